<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Autosave</name>
    <message>
        <source>cannot create %1</source>
        <translation>%1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>cannot lock a file in %1</source>
        <translation>in %1 lässt sich keine Datei sperren</translation>
    </message>
    <message>
        <source>not enough memory for the brush edits</source>
        <translation>nicht genug Speicher für die Pinselkorrekturen</translation>
    </message>
</context>
<context>
    <name>BackgroundDialog</name>
    <message>
        <source>Please select the background color</source>
        <translation>Bitte wählen Sie die Hintergrundfarbe</translation>
    </message>
    <message>
        <source>Open Image</source>
        <translation>Bild öffnen</translation>
    </message>
</context>
<context>
    <name>BackgroundDialogUi</name>
    <message>
        <source>Select Background Color or Picture</source>
        <translation>Hintergrundfarbe oder -bild wählen</translation>
    </message>
    <message>
        <source>Use White</source>
        <translation>Weiß verwenden</translation>
    </message>
    <message>
        <source>Use Transparent</source>
        <translation>Transparent verwenden</translation>
    </message>
    <message>
        <source>Use color</source>
        <translation>Farbe verwenden</translation>
    </message>
    <message>
        <source>Use picture</source>
        <translation>Bild verwenden</translation>
    </message>
</context>
<context>
    <name>CutDocument</name>
    <message>
        <source>Marker stroke</source>
        <translation>Markerstrich</translation>
    </message>
    <message>
        <source>Erasure</source>
        <translation>Radieren</translation>
    </message>
    <message>
        <source>Brush stroke</source>
        <translation>Pinselstrich</translation>
    </message>
</context>
<context>
    <name>ExportDialog</name>
    <message>
        <source>Save File</source>
        <translation>Datei speichern</translation>
    </message>
    <message>
        <source>%1 Files (%2)</source>
        <translation>%1-Dateien (%2)</translation>
    </message>
</context>
<context>
    <name>ExportDialogUi</name>
    <message>
        <source>Export</source>
        <translation>Exportieren</translation>
    </message>
    <message>
        <source>FileName</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Breite</translation>
    </message>
    <message>
        <source>Keep Aspect Ratio</source>
        <translation>Seitenverhältnis beibehalten</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Höhe</translation>
    </message>
</context>
<context>
    <name>HelpDialog</name>
    <message>
        <source>Peltrix Help</source>
        <translation>Peltrix-Hilfe</translation>
    </message>
    <message>
        <source>en</source>
        <comment>the folder of this language&apos;s help screenshots, :/help/&lt;this&gt;/</comment>
        <translation>de</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;b&gt;Peltrix Pro isolates an object on a digital picture from its background and puts a new background behind it: a colour or another picture. Open a photo with File - Open and follow the steps below.&lt;/b&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;1. Mark the object with the green Foreground Marker &lt;img src=&quot;:/icons/greenpencil.PNG&quot; width=&quot;9&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; You do not have to cover it: a few lines drawn inside the object are enough. Keep the strokes away from its edge.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp02.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;2. Mark the outside with the red Background Marker &lt;img src=&quot;:/icons/redpencilv.PNG&quot; width=&quot;9&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; A few strokes on every kind of background colour around the object do the job. A wrong stroke is undone with Ctrl+Z or removed with the Eraser.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp03.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;3. Press Mask &lt;img src=&quot;:/icons/foxglove.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; to see the foreground and the background highlighted.&lt;/b&gt; Blue is what will be kept, grey what will be removed. Where the decision is wrong, add a few more marks of the right colour there and press Mask again.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp04.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;4. Switch to Preview &lt;img src=&quot;:/icons/print_preview_32.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; The object is shown cut out over the new background, and more tools become available. Switch Preview off to go back to the markers.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp06.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;5. Correct mistakes with the brushes (optional).&lt;/b&gt; The Foreground Brush &lt;img src=&quot;:/icons/greenbrush.png&quot; width=&quot;12&quot; height=&quot;24&quot;/&gt; brings back parts of the object that were cut away, the Background Brush &lt;img src=&quot;:/icons/redbrush.png&quot; width=&quot;12&quot; height=&quot;24&quot;/&gt; wipes out remains of the old background. Every brush stroke can be undone.&lt;/p&gt;&lt;p&gt;&lt;b&gt;6. Choose the background with Select Background &lt;img src=&quot;:/icons/view_32_h.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; The background is white by default; it can also be transparent, any colour (semi-transparent colours included) or another picture.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp07.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;7. Place the object on a picture background.&lt;/b&gt; The Hand tool &lt;img src=&quot;:/icons/openhand.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; moves the object over the picture, and the two background scaling buttons &lt;img src=&quot;:/icons/zoomplusbg.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; &lt;img src=&quot;:/icons/zoomminusbg.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; make the background larger or smaller.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp08.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;8. Save the result with Export &lt;img src=&quot;:/icons/save_32_h.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; Choose the file name and the size of the picture. Save as .png to keep a transparent background; a .jpg file has no transparency.&lt;/p&gt;&lt;h3&gt;Usefull keyboard shortcuts&lt;/h3&gt;&lt;p&gt;Undo is Ctrl+Z. It works for markers and brushes.&lt;br/&gt;Redo is Ctrl+Shift+Z or Ctrl+Y.&lt;br/&gt;Ctrl+Left and Ctrl+Right change the current brush or marker size.&lt;br/&gt;[ and ] do the same.&lt;br/&gt;Ctrl+Up and Ctrl+Down change the current brush intensity.&lt;br/&gt;Ctrl+O and Ctrl+S work for Open/Save.&lt;br/&gt;K, R and E choose the green marker, the red marker and the Eraser; F, B and H the Foreground Brush, the Background Brush and the Hand tool. M shows the Mask, P switches the Preview on and off.&lt;br/&gt;Ctrl+C copies the result to the clipboard, Ctrl+V opens a picture from the clipboard.&lt;br/&gt;Ctrl and the mouse wheel zoom in and out around the pointer.&lt;/p&gt;&lt;p&gt;In Preferences, Undo whole strokes makes one Ctrl+Z take back a whole stroke instead of a single dab, and Fill fast strokes closes the gaps that a fast stroke leaves.&lt;/p&gt;&lt;p&gt;Paint over hair, fur or a veil with the yellow Edge Marker (G): its pixels are neither kept nor removed, their transparency and colour are worked out from the photo. In Preferences, Isolation: Precise finds the object by a cut along the photo&apos;s own edges and keeps only what joins a green stroke; it often needs fewer strokes.&lt;/p&gt;&lt;p&gt;See also: the video tutorials on our web site, &lt;a href=&quot;https://peltrix.example/tutorials&quot;&gt;https://peltrix.example/tutorials&lt;/a&gt;.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;b&gt;Peltrix Pro löst ein Objekt in einem digitalen Bild von seinem Hintergrund und setzt einen neuen Hintergrund dahinter: eine Farbe oder ein anderes Bild. Öffnen Sie ein Foto mit Datei - Öffnen und folgen Sie den Schritten unten.&lt;/b&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;1. Markieren Sie das Objekt mit dem grünen Vordergrundmarker &lt;img src=&quot;:/icons/greenpencil.PNG&quot; width=&quot;9&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; Sie müssen es nicht ausmalen: Ein paar Linien im Inneren des Objekts genügen. Halten Sie die Striche von seinem Rand fern.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp02.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;2. Markieren Sie die Umgebung mit dem roten Hintergrundmarker &lt;img src=&quot;:/icons/redpencilv.PNG&quot; width=&quot;9&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; Ein paar Striche auf jeder Hintergrundfarbe rund um das Objekt reichen aus. Ein falscher Strich wird mit Strg+Z rückgängig gemacht oder mit dem Radiergummi entfernt.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp03.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;3. Drücken Sie Maske &lt;img src=&quot;:/icons/foxglove.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt;, um Vordergrund und Hintergrund hervorgehoben zu sehen.&lt;/b&gt; Blau ist, was erhalten bleibt, Grau, was entfernt wird. Wo die Entscheidung falsch ist, setzen Sie dort ein paar weitere Markierungen in der richtigen Farbe und drücken Sie erneut Maske.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp04.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;4. Schalten Sie die Vorschau &lt;img src=&quot;:/icons/print_preview_32.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; ein.&lt;/b&gt; Das Objekt wird ausgeschnitten über dem neuen Hintergrund gezeigt, und weitere Werkzeuge stehen zur Verfügung. Schalten Sie die Vorschau aus, um zu den Markern zurückzukehren.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp06.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;5. Korrigieren Sie Fehler mit den Pinseln (optional).&lt;/b&gt; Der Vordergrundpinsel &lt;img src=&quot;:/icons/greenbrush.png&quot; width=&quot;12&quot; height=&quot;24&quot;/&gt; holt weggeschnittene Teile des Objekts zurück, der Hintergrundpinsel &lt;img src=&quot;:/icons/redbrush.png&quot; width=&quot;12&quot; height=&quot;24&quot;/&gt; entfernt Reste des alten Hintergrunds. Jeder Pinselstrich lässt sich rückgängig machen.&lt;/p&gt;&lt;p&gt;&lt;b&gt;6. Wählen Sie den Hintergrund mit Hintergrund wählen &lt;img src=&quot;:/icons/view_32_h.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; Der Hintergrund ist zunächst weiß; er kann auch transparent sein, eine beliebige Farbe haben (auch eine halbtransparente) oder ein anderes Bild sein.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp07.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;7. Platzieren Sie das Objekt auf einem Bildhintergrund.&lt;/b&gt; Das Hand-Werkzeug &lt;img src=&quot;:/icons/openhand.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; verschiebt das Objekt über dem Bild, und die beiden Schaltflächen zum Skalieren des Hintergrunds &lt;img src=&quot;:/icons/zoomplusbg.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; &lt;img src=&quot;:/icons/zoomminusbg.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt; machen den Hintergrund größer oder kleiner.&lt;/p&gt;&lt;p align=&quot;center&quot;&gt;&lt;img src=&quot;:/icons/peltsmp08.png&quot;/&gt;&lt;/p&gt;&lt;p&gt;&lt;b&gt;8. Speichern Sie das Ergebnis mit Exportieren &lt;img src=&quot;:/icons/save_32_h.png&quot; width=&quot;24&quot; height=&quot;24&quot;/&gt;.&lt;/b&gt; Wählen Sie den Dateinamen und die Größe des Bildes. Speichern Sie als .png, um einen transparenten Hintergrund zu behalten; eine .jpg-Datei kennt keine Transparenz.&lt;/p&gt;&lt;h3&gt;Nützliche Tastenkürzel&lt;/h3&gt;&lt;p&gt;Rückgängig ist Strg+Z. Es wirkt auf Marker und Pinsel.&lt;br/&gt;Wiederherstellen ist Strg+Umschalt+Z oder Strg+Y.&lt;br/&gt;Strg+Pfeil links und Strg+Pfeil rechts ändern die Größe des aktuellen Pinsels oder Markers.&lt;br/&gt;[ und ] tun dasselbe.&lt;br/&gt;Strg+Pfeil hoch und Strg+Pfeil runter ändern die Intensität des aktuellen Pinsels.&lt;br/&gt;Strg+O und Strg+S stehen für Öffnen und Exportieren.&lt;br/&gt;K, R und E wählen den grünen Marker, den roten Marker und den Radiergummi; F, B und H den Vordergrundpinsel, den Hintergrundpinsel und das Hand-Werkzeug. M zeigt die Maske, P schaltet die Vorschau ein und aus.&lt;br/&gt;Strg+C kopiert das Ergebnis in die Zwischenablage, Strg+V öffnet ein Bild aus der Zwischenablage.&lt;br/&gt;Strg und das Mausrad zoomen um den Mauszeiger herum hinein und hinaus.&lt;/p&gt;&lt;p&gt;In den Einstellungen lässt Ganze Striche rückgängig machen ein Strg+Z einen ganzen Strich statt eines einzelnen Tupfers zurücknehmen, und Schnelle Striche füllen schließt die Lücken, die ein schneller Strich lässt.&lt;/p&gt;&lt;p&gt;Haare, Fell oder einen Schleier übermalen Sie mit dem gelben Kantenmarker (G): Seine Pixel werden weder behalten noch entfernt, ihre Transparenz und Farbe werden aus dem Foto ermittelt. In den Einstellungen findet Freistellung: Präzise das Objekt durch einen Schnitt entlang der Kanten des Fotos und behält nur, was mit einem grünen Strich verbunden ist; das braucht oft weniger Striche.&lt;/p&gt;&lt;p&gt;Siehe auch: die Video-Anleitungen auf unserer Website, &lt;a href=&quot;https://peltrix.example/tutorials&quot;&gt;https://peltrix.example/tutorials&lt;/a&gt;.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
</context>
<context>
    <name>HelpDialogUi</name>
    <message>
        <source>Peltrix Help</source>
        <translation>Peltrix-Hilfe</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Isolating object</source>
        <translation>Objekt wird freigestellt</translation>
    </message>
    <message>
        <source>Open Image</source>
        <translation>Bild öffnen</translation>
    </message>
    <message>
        <source>Image Files (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif);;All files (*.*)</source>
        <translation>Bilddateien (*.png *.jpg *.bmp *.jpeg *.tiff *.tif *.gif);;Alle Dateien (*.*)</translation>
    </message>
    <message>
        <source>No file selected</source>
        <translation>Keine Datei gewählt</translation>
    </message>
    <message>
        <source>Failed to read image</source>
        <translation>Das Bild konnte nicht gelesen werden</translation>
    </message>
    <message>
        <source>Peltrix Pro</source>
        <translation>Peltrix Pro</translation>
    </message>
    <message>
        <source>image opened</source>
        <translation>Bild geöffnet</translation>
    </message>
    <message>
        <source>Image loaded. Preprocessing image.</source>
        <translation>Bild geladen. Das Bild wird vorbereitet.</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
    <message>
        <source>Displaying image</source>
        <translation>Bild wird angezeigt</translation>
    </message>
    <message>
        <source>Transparency was lost</source>
        <translation>Transparenz verloren</translation>
    </message>
    <message>
        <source>You&apos;ve selected a transparent background color but saving as jpeg. Transparency of the color was lost. Please choose .png to save transparent backgrounds</source>
        <translation>Sie haben eine transparente Hintergrundfarbe gewählt, speichern aber als JPEG. Die Transparenz der Farbe ging verloren. Wählen Sie .png, um transparente Hintergründe zu speichern.</translation>
    </message>
    <message>
        <source>Undo failed: the saved pixels could not be read</source>
        <translation>Rückgängig fehlgeschlagen: Die gespeicherten Pixel konnten nicht gelesen werden</translation>
    </message>
    <message>
        <source>Peltrix Pro 3.0</source>
        <translation>Peltrix Pro 3.0</translation>
    </message>
    <message>
        <source>Peltrix Pro 3.0 cuts objects out of photographs.
Copyright (C) Trevalon software. All rights reserved.</source>
        <translation>Peltrix Pro 3.0 schneidet Objekte aus Fotografien aus.
Copyright (C) Trevalon software. Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <source>Foreground marker size is %1</source>
        <translation>Größe des Vordergrundmarkers: %1</translation>
    </message>
    <message>
        <source>Tool size is %1</source>
        <translation>Werkzeuggröße: %1</translation>
    </message>
    <message>
        <source>Background marker size is %1</source>
        <translation>Größe des Hintergrundmarkers: %1</translation>
    </message>
    <message>
        <source>Background brush size is %1</source>
        <translation>Größe des Hintergrundpinsels: %1</translation>
    </message>
    <message>
        <source>Foreground brush size is %1</source>
        <translation>Größe des Vordergrundpinsels: %1</translation>
    </message>
    <message>
        <source>Background brush intensity is %1</source>
        <translation>Intensität des Hintergrundpinsels: %1</translation>
    </message>
    <message>
        <source>Foreground brush intensity is %1</source>
        <translation>Intensität des Vordergrundpinsels: %1</translation>
    </message>
    <message>
        <source>Wait until the picture has been analysed</source>
        <translation>Bitte warten, bis das Bild analysiert ist</translation>
    </message>
    <message>
        <source>Drop one picture at a time</source>
        <translation>Bitte jeweils nur ein Bild ablegen</translation>
    </message>
    <message>
        <source>Only picture files can be dropped here</source>
        <translation>Hier können nur Bilddateien abgelegt werden</translation>
    </message>
    <message>
        <source>Not a picture: %1</source>
        <translation>Kein Bild: %1</translation>
    </message>
    <message>
        <source>Strokes (*.txt);;All files (*.*)</source>
        <translation>Striche (*.txt);;Alle Dateien (*.*)</translation>
    </message>
    <message>
        <source>Open a picture first</source>
        <translation>Bitte zuerst ein Bild öffnen</translation>
    </message>
    <message>
        <source>Save Strokes</source>
        <translation>Striche speichern</translation>
    </message>
    <message>
        <source>Could not save the strokes: %1</source>
        <translation>Die Striche konnten nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <source>Saved %1 dabs to %2</source>
        <translation>%1 Tupfer in %2 gespeichert</translation>
    </message>
    <message>
        <source>Load Strokes</source>
        <translation>Striche laden</translation>
    </message>
    <message>
        <source>Could not load the strokes: %1</source>
        <translation>Die Striche konnten nicht geladen werden: %1</translation>
    </message>
    <message>
        <source>Loaded %1 dabs from %2</source>
        <translation>%1 Tupfer aus %2 geladen</translation>
    </message>
    <message>
        <source>Wait until the current command is done</source>
        <translation>Warten Sie, bis der laufende Befehl fertig ist</translation>
    </message>
    <message>
        <source>Opening %1</source>
        <translation>%1 wird geöffnet</translation>
    </message>
    <message>
        <source>Refining the edge</source>
        <translation>Kante wird verfeinert</translation>
    </message>
    <message>
        <source>Smoothing the edge</source>
        <translation>Kante wird geglättet</translation>
    </message>
    <message>
        <source>Composing the preview</source>
        <translation>Vorschau wird zusammengesetzt</translation>
    </message>
    <message>
        <source>Composing the export</source>
        <translation>Export wird zusammengesetzt</translation>
    </message>
    <message>
        <source>Writing %1</source>
        <translation>%1 wird geschrieben</translation>
    </message>
    <message>
        <source>Redo failed: the saved pixels could not be read</source>
        <translation>Wiederherstellen fehlgeschlagen: Die gespeicherten Pixel konnten nicht gelesen werden</translation>
    </message>
    <message>
        <source>Exported %1</source>
        <translation>%1 exportiert</translation>
    </message>
    <message>
        <source>Switch the preview on to copy its picture</source>
        <translation>Schalten Sie die Vorschau ein, um ihr Bild zu kopieren</translation>
    </message>
    <message>
        <source>Composing the picture for the clipboard</source>
        <translation>Bild für die Zwischenablage wird zusammengesetzt</translation>
    </message>
    <message>
        <source>Could not copy the picture: not enough memory</source>
        <translation>Das Bild konnte nicht kopiert werden: nicht genug Speicher</translation>
    </message>
    <message>
        <source>Copied the picture (%1 x %2) to the clipboard</source>
        <translation>Bild (%1 x %2) in die Zwischenablage kopiert</translation>
    </message>
    <message>
        <source>The clipboard holds no picture</source>
        <translation>Die Zwischenablage enthält kein Bild</translation>
    </message>
    <message>
        <source>The clipboard&apos;s picture cannot be opened: %1</source>
        <translation>Das Bild in der Zwischenablage lässt sich nicht öffnen: %1</translation>
    </message>
    <message>
        <source>Pasted picture</source>
        <translation>Eingefügtes Bild</translation>
    </message>
    <message>
        <source>Failed to read image. %1</source>
        <translation>Das Bild konnte nicht gelesen werden. %1</translation>
    </message>
    <message>
        <source>Autosave failed: %1</source>
        <translation>Automatisches Sichern fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>cannot create %1</source>
        <translation>%1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Could not keep the cut of %1: %2</source>
        <translation>Die Freistellung von %1 konnte nicht aufbewahrt werden: %2</translation>
    </message>
    <message>
        <source>The cut of %1 was kept in %2</source>
        <translation>Die Freistellung von %1 wurde in %2 aufbewahrt</translation>
    </message>
    <message>
        <source>Save Project</source>
        <translation>Projekt speichern</translation>
    </message>
    <message>
        <source>Projects (*.peltrix)</source>
        <translation>Projekte (*.peltrix)</translation>
    </message>
    <message>
        <source>Could not save the project: the photo&apos;s file cannot be read</source>
        <translation>Das Projekt konnte nicht gespeichert werden: Die Datei des Fotos lässt sich nicht lesen</translation>
    </message>
    <message>
        <source>Could not save the project: %1</source>
        <translation>Das Projekt konnte nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <source>Saved the project to %1</source>
        <translation>Projekt in %1 gespeichert</translation>
    </message>
    <message>
        <source>Open Project</source>
        <translation>Projekt öffnen</translation>
    </message>
    <message>
        <source>Projects (*.peltrix);;All files (*.*)</source>
        <translation>Projekte (*.peltrix);;Alle Dateien (*.*)</translation>
    </message>
    <message>
        <source>Could not open the project %1: %2</source>
        <translation>Das Projekt %1 konnte nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>Opened the project %1</source>
        <translation>Projekt %1 geöffnet</translation>
    </message>
    <message>
        <source>Where is %1?</source>
        <translation>Wo ist %1?</translation>
    </message>
    <message>
        <source>The photo %1 of the cut was not found; nothing was changed</source>
        <translation>Das Foto %1 der Freistellung wurde nicht gefunden; nichts wurde geändert</translation>
    </message>
    <message>
        <source>Changed Photo</source>
        <translation>Geändertes Foto</translation>
    </message>
    <message>
        <source>The photo %1 has changed since the cut was saved. Place the cut&apos;s dabs on it anyway? Its brush edits cannot be used.</source>
        <translation>Das Foto %1 hat sich geändert, seit die Freistellung gespeichert wurde. Ihre Tupfer trotzdem darauf setzen? Ihre Pinselkorrekturen lassen sich nicht verwenden.</translation>
    </message>
    <message>
        <source>The photo %1 has changed since the cut was saved; nothing was changed</source>
        <translation>Das Foto %1 hat sich geändert, seit die Freistellung gespeichert wurde; nichts wurde geändert</translation>
    </message>
    <message>
        <source>the photo %1 has changed: its dabs were placed, its brush edits left out</source>
        <translation>das Foto %1 hat sich geändert: Die Tupfer wurden gesetzt, die Pinselkorrekturen weggelassen</translation>
    </message>
    <message>
        <source>the background picture %1 was not found: the colour is shown</source>
        <translation>das Hintergrundbild %1 wurde nicht gefunden: Die Farbe wird gezeigt</translation>
    </message>
    <message>
        <source>the background picture %1 has changed</source>
        <translation>das Hintergrundbild %1 hat sich geändert</translation>
    </message>
    <message>
        <source>the brush edits do not fit the photo and were left out</source>
        <translation>die Pinselkorrekturen passen nicht zum Foto und wurden weggelassen</translation>
    </message>
    <message>
        <source>A recovery file could not be read (%1): %2</source>
        <translation>Eine Wiederherstellungsdatei konnte nicht gelesen werden (%1): %2</translation>
    </message>
    <message>
        <source>Recovery</source>
        <translation>Wiederherstellung</translation>
    </message>
    <message>
        <source>Restore the cut of %1 from %2?</source>
        <translation>Die Freistellung von %1 vom %2 wiederherstellen?</translation>
    </message>
    <message>
        <source>The cut of %1 from %2 was dropped</source>
        <translation>Die Freistellung von %1 vom %2 wurde verworfen</translation>
    </message>
    <message>
        <source>Restored the cut of %1 from %2</source>
        <translation>Die Freistellung von %1 vom %2 wurde wiederhergestellt</translation>
    </message>
    <message>
        <source>Edge marker size is %1</source>
        <translation>Größe des Kantenmarkers: %1</translation>
    </message>
</context>
<context>
    <name>MainWindowUi</name>
    <message>
        <source>Peltrix Pro</source>
        <translation>Peltrix Pro</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>Optionen</translation>
    </message>
    <message>
        <source>Actions</source>
        <translation>Aktionen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&quot;Keep&quot; Marker</source>
        <translation>„Behalten“-Marker</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;&quot;Keep&quot; Marker&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Used to mark the areas of image you want to keep.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;„Behalten“-Marker&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Markiert die Bildbereiche, die erhalten bleiben sollen.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>&quot;Remove&quot; Marker</source>
        <translation>„Entfernen“-Marker</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;&quot;Remove&quot; Marker&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Used to mark the areas of image you want to remove. They will become background.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;„Entfernen“-Marker&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Markiert die Bildbereiche, die entfernt werden sollen. Sie werden zum Hintergrund.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Index</source>
        <translation>Inhalt</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Zoom In</source>
        <translation>Vergrößern</translation>
    </message>
    <message>
        <source>Zoom Out</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Preview&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Switch to preview mode to see how your final picture will look. Some tools are only available in this mode.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Vorschau&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Wechselt in die Vorschau, die zeigt, wie das fertige Bild aussehen wird. Manche Werkzeuge gibt es nur in diesem Modus.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Mask</source>
        <translation>Maske</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Mask Tool&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Preview your foreground and background highlighted with colors.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Maskenwerkzeug&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Zeigt Vordergrund und Hintergrund farbig hervorgehoben.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Select Background</source>
        <translation>Hintergrund wählen</translation>
    </message>
    <message>
        <source>HandTool</source>
        <translation>Hand-Werkzeug</translation>
    </message>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Exportieren</translation>
    </message>
    <message>
        <source>Ctrl+S</source>
        <translation>Ctrl+S</translation>
    </message>
    <message>
        <source>Eraser</source>
        <translation>Radiergummi</translation>
    </message>
    <message>
        <source>Background Brush</source>
        <translation>Hintergrundpinsel</translation>
    </message>
    <message>
        <source>Foreground Brush</source>
        <translation>Vordergrundpinsel</translation>
    </message>
    <message>
        <source>backgroundZoomPlus</source>
        <translation>Hintergrund vergrößern</translation>
    </message>
    <message>
        <source>Background Zoom
Scales the background when it is a picture.</source>
        <translation>Hintergrund-Zoom
Skaliert den Hintergrund, wenn er ein Bild ist.</translation>
    </message>
    <message>
        <source>backgroundZoomMinus</source>
        <translation>Hintergrund verkleinern</translation>
    </message>
    <message>
        <source>increaseToolSize</source>
        <translation>Werkzeug vergrößern</translation>
    </message>
    <message>
        <source>Ctrl+Right</source>
        <translation>Ctrl+Right</translation>
    </message>
    <message>
        <source>decreaseToolSize</source>
        <translation>Werkzeug verkleinern</translation>
    </message>
    <message>
        <source>Ctrl+Left</source>
        <translation>Ctrl+Left</translation>
    </message>
    <message>
        <source>increaseBrushIntensity</source>
        <translation>Pinselintensität erhöhen</translation>
    </message>
    <message>
        <source>Ctrl+Up</source>
        <translation>Ctrl+Up</translation>
    </message>
    <message>
        <source>decreaseBrushIntensity</source>
        <translation>Pinselintensität verringern</translation>
    </message>
    <message>
        <source>Ctrl+Down</source>
        <translation>Ctrl+Down</translation>
    </message>
    <message>
        <source>Load Strokes...</source>
        <translation>Striche laden...</translation>
    </message>
    <message>
        <source>Replaces the keep and remove strokes with those of a strokes file</source>
        <translation>Ersetzt die Behalten- und Entfernen-Striche durch die einer Strichdatei</translation>
    </message>
    <message>
        <source>Save Strokes...</source>
        <translation>Striche speichern...</translation>
    </message>
    <message>
        <source>Writes the keep and remove strokes to a file that peltrix-cut --markers reads</source>
        <translation>Schreibt die Behalten- und Entfernen-Striche in eine Datei, die peltrix-cut --markers liest</translation>
    </message>
    <message>
        <source>Live Mask</source>
        <translation>Live-Maske</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Live Mask&lt;/span&gt;&lt;/p&gt;&lt;p&gt;The mask follows your strokes by itself: after each stroke, erasure or undo it shows the result while you go on painting.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Live-Maske&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Die Maske folgt Ihren Strichen von selbst: Nach jedem Strich, jedem Radieren und jedem Rückgängigmachen zeigt sie das Ergebnis, während Sie weitermalen.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
    <message>
        <source>Open Recent</source>
        <translation>Zuletzt geöffnet</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>Einfügen</translation>
    </message>
    <message>
        <source>Opens the picture on the clipboard as the photo</source>
        <translation>Öffnet das Bild aus der Zwischenablage als Foto</translation>
    </message>
    <message>
        <source>Ctrl+V</source>
        <translation>Ctrl+V</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>Kopieren</translation>
    </message>
    <message>
        <source>Puts the picture that Export writes, at its full size, on the clipboard</source>
        <translation>Legt das Bild, das Exportieren schreibt, in voller Größe in die Zwischenablage</translation>
    </message>
    <message>
        <source>Ctrl+C</source>
        <translation>Ctrl+C</translation>
    </message>
    <message>
        <source>Open Project...</source>
        <translation>Projekt öffnen...</translation>
    </message>
    <message>
        <source>Opens a saved cut: its photo, strokes, brush edits, background and settings</source>
        <translation>Öffnet eine gespeicherte Freistellung: Foto, Striche, Pinselkorrekturen, Hintergrund und Einstellungen</translation>
    </message>
    <message>
        <source>Ctrl+Shift+O</source>
        <translation>Ctrl+Shift+O</translation>
    </message>
    <message>
        <source>Save Project...</source>
        <translation>Projekt speichern...</translation>
    </message>
    <message>
        <source>Saves the cut as a project that Open Project and peltrix-cut --project read</source>
        <translation>Speichert die Freistellung als Projekt, das Projekt öffnen und peltrix-cut --project lesen</translation>
    </message>
    <message>
        <source>Ctrl+Shift+S</source>
        <translation>Ctrl+Shift+S</translation>
    </message>
    <message>
        <source>Edge Marker</source>
        <translation>Kantenmarker</translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Edge Marker&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Paint over hair, fur or a veil: the marked pixels are neither kept nor removed, their transparency and colour are worked out from the photo.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation>&lt;html&gt;&lt;head/&gt;&lt;body style=&quot;font-size:8pt;&quot;&gt;&lt;p&gt;&lt;span style=&quot;font-weight:600;&quot;&gt;Kantenmarker&lt;/span&gt;&lt;/p&gt;&lt;p&gt;Malen Sie über Haare, Fell oder einen Schleier: Die markierten Pixel werden weder behalten noch entfernt, ihre Transparenz und Farbe werden aus dem Foto ermittelt.&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
    </message>
</context>
<context>
    <name>OptionsDialogUi</name>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Foreground Marker width</source>
        <translation>Breite des Vordergrundmarkers</translation>
    </message>
    <message>
        <source>Same size for all tools</source>
        <translation>Gleiche Größe für alle Werkzeuge</translation>
    </message>
    <message>
        <source>Background Marker width</source>
        <translation>Breite des Hintergrundmarkers</translation>
    </message>
    <message>
        <source>Smooth Edges</source>
        <translation>Kanten glätten</translation>
    </message>
    <message>
        <source>Eraser width</source>
        <translation>Breite des Radiergummis</translation>
    </message>
    <message>
        <source>Mask opacity</source>
        <translation>Deckkraft der Maske</translation>
    </message>
    <message>
        <source>Foreground Brush width</source>
        <translation>Breite des Vordergrundpinsels</translation>
    </message>
    <message>
        <source>Foreground Brush Intensity</source>
        <translation>Intensität des Vordergrundpinsels</translation>
    </message>
    <message>
        <source>Background Brush width</source>
        <translation>Breite des Hintergrundpinsels</translation>
    </message>
    <message>
        <source>Background Brush Intensity</source>
        <translation>Intensität des Hintergrundpinsels</translation>
    </message>
    <message>
        <source>Blue Marker width</source>
        <translation>Breite des blauen Markers</translation>
    </message>
    <message>
        <source>Estimates soft edges such as hair and fur from the photo, with their own colours, instead of feathering the edge</source>
        <translation>Schätzt weiche Kanten wie Haare und Fell aus dem Foto, mit ihren eigenen Farben, statt die Kante weichzuzeichnen</translation>
    </message>
    <message>
        <source>Refine edges</source>
        <translation>Kanten verfeinern</translation>
    </message>
    <message>
        <source>One Undo takes back a whole stroke, from pressing the button to releasing it, instead of a single dab</source>
        <translation>Ein Rückgängig nimmt einen ganzen Strich zurück, vom Drücken der Taste bis zum Loslassen, statt eines einzelnen Tupfers</translation>
    </message>
    <message>
        <source>Undo whole strokes</source>
        <translation>Ganze Striche rückgängig machen</translation>
    </message>
    <message>
        <source>Places dabs along the way between the mouse positions of a stroke, so that a fast stroke leaves no gaps</source>
        <translation>Setzt Tupfer auf dem Weg zwischen den Mauspositionen eines Strichs, damit ein schneller Strich keine Lücken lässt</translation>
    </message>
    <message>
        <source>Fill fast strokes</source>
        <translation>Schnelle Striche füllen</translation>
    </message>
    <message>
        <source>Isolation:</source>
        <translation>Freistellung:</translation>
    </message>
    <message>
        <source>Colour clusters decide by the colours the marks cover; Precise cuts along the photo&apos;s own edges between the marks and keeps only what joins a keep mark</source>
        <translation>Farbgruppen entscheiden nach den Farben unter den Markierungen; Präzise schneidet zwischen den Markierungen entlang der Kanten des Fotos und behält nur, was mit einer Behalten-Markierung verbunden ist</translation>
    </message>
    <message>
        <source>Colour clusters</source>
        <translation>Farbgruppen</translation>
    </message>
    <message>
        <source>Precise</source>
        <translation>Präzise</translation>
    </message>
    <message>
        <source>Edge Marker width</source>
        <translation>Breite des Kantenmarkers</translation>
    </message>
</context>
<context>
    <name>PictureIO</name>
    <message>
        <source>The picture is too large (%1 x %2)</source>
        <translation>Das Bild ist zu groß (%1 × %2)</translation>
    </message>
    <message>
        <source>Not enough memory for the picture</source>
        <translation>Nicht genug Speicher für das Bild</translation>
    </message>
    <message>
        <source>The picture is empty</source>
        <translation>Das Bild ist leer</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Cuts an object out of a photograph. Opens PHOTO if one is given.</source>
        <translation>Schneidet ein Objekt aus einem Foto aus. Öffnet FOTO, falls angegeben.</translation>
    </message>
    <message>
        <source>The photo, or a project (.peltrix), to open (the first of several).</source>
        <translation>Das zu öffnende Foto oder Projekt (.peltrix) (das erste von mehreren).</translation>
    </message>
</context>
</TS>
