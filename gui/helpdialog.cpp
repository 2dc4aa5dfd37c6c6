#include "gui/helpdialog.h"
#include "ui_helpdialog.h"

#include <QEvent>
#include <QFile>
#include <QRegularExpression>

HelpDialog::HelpDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::HelpDialogUi)
{
    ui->setupUi(this);
    retranslate();
}

HelpDialog::~HelpDialog()
{
    delete ui;
}

void HelpDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        retranslate();
    }
    QDialog::changeEvent(event);
}

void HelpDialog::retranslate()
{
    setWindowTitle(tr("Peltrix Help"));
    ui->textEdit->setHtml(withTranslatedScreenshots(tr(
        "<html><body style=\"font-size:8pt;\">"
        "<p><b>Peltrix Pro isolates an object on a digital picture from its background and "
        "puts a new background behind it: a colour or another picture. Open a photo with "
        "File - Open and follow the steps below.</b></p>"

        "<p><b>1. Mark the object with the green Foreground Marker "
        "<img src=\":/icons/greenpencil.PNG\" width=\"9\" height=\"24\"/>.</b> "
        "You do not have to cover it: a few lines drawn inside the object are enough. "
        "Keep the strokes away from its edge.</p>"
        "<p align=\"center\"><img src=\":/icons/peltsmp02.png\"/></p>"

        "<p><b>2. Mark the outside with the red Background Marker "
        "<img src=\":/icons/redpencilv.PNG\" width=\"9\" height=\"24\"/>.</b> "
        "A few strokes on every kind of background colour around the object do the job. "
        "A wrong stroke is undone with Ctrl+Z or removed with the Eraser.</p>"
        "<p align=\"center\"><img src=\":/icons/peltsmp03.png\"/></p>"

        "<p><b>3. Press Mask <img src=\":/icons/foxglove.png\" width=\"24\" height=\"24\"/> "
        "to see the foreground and the background highlighted.</b> Blue is what will be "
        "kept, grey what will be removed. Where the decision is wrong, add a few more marks "
        "of the right colour there and press Mask again.</p>"
        "<p align=\"center\"><img src=\":/icons/peltsmp04.png\"/></p>"

        "<p><b>4. Switch to Preview "
        "<img src=\":/icons/print_preview_32.png\" width=\"24\" height=\"24\"/>.</b> "
        "The object is shown cut out over the new background, and more tools become "
        "available. Switch Preview off to go back to the markers.</p>"
        "<p align=\"center\"><img src=\":/icons/peltsmp06.png\"/></p>"

        "<p><b>5. Correct mistakes with the brushes (optional).</b> The Foreground Brush "
        "<img src=\":/icons/greenbrush.png\" width=\"12\" height=\"24\"/> brings back parts "
        "of the object that were cut away, the Background Brush "
        "<img src=\":/icons/redbrush.png\" width=\"12\" height=\"24\"/> wipes out remains of "
        "the old background. Every brush stroke can be undone.</p>"

        "<p><b>6. Choose the background with Select Background "
        "<img src=\":/icons/view_32_h.png\" width=\"24\" height=\"24\"/>.</b> "
        "The background is white by default; it can also be transparent, any colour "
        "(semi-transparent colours included) or another picture.</p>"
        "<p align=\"center\"><img src=\":/icons/peltsmp07.png\"/></p>"

        "<p><b>7. Place the object on a picture background.</b> The Hand tool "
        "<img src=\":/icons/openhand.png\" width=\"24\" height=\"24\"/> moves the object "
        "over the picture, and the two background scaling buttons "
        "<img src=\":/icons/zoomplusbg.png\" width=\"24\" height=\"24\"/> "
        "<img src=\":/icons/zoomminusbg.png\" width=\"24\" height=\"24\"/> make the "
        "background larger or smaller.</p>"
        "<p align=\"center\"><img src=\":/icons/peltsmp08.png\"/></p>"

        "<p><b>8. Save the result with Export "
        "<img src=\":/icons/save_32_h.png\" width=\"24\" height=\"24\"/>.</b> "
        "Choose the file name and the size of the picture. Save as .png to keep a "
        "transparent background; a .jpg file has no transparency.</p>"

        "<h3>Usefull keyboard shortcuts</h3>"
        "<p>Undo is Ctrl+Z. It works for markers and brushes.<br/>"
        "Redo is Ctrl+Shift+Z or Ctrl+Y.<br/>"
        "Ctrl+Left and Ctrl+Right change the current brush or marker size.<br/>"
        "[ and ] do the same.<br/>"
        "Ctrl+Up and Ctrl+Down change the current brush intensity.<br/>"
        "Ctrl+O and Ctrl+S work for Open/Save.<br/>"
        "K, R and E choose the green marker, the red marker and the Eraser; F, B and H the "
        "Foreground Brush, the Background Brush and the Hand tool. M shows the Mask, P switches "
        "the Preview on and off.<br/>"
        "Ctrl+C copies the result to the clipboard, Ctrl+V opens a picture from the clipboard.<br/>"
        "Ctrl and the mouse wheel zoom in and out around the pointer.</p>"
        "<p>In Preferences, Undo whole strokes makes one Ctrl+Z take back a whole stroke instead "
        "of a single dab, and Fill fast strokes closes the gaps that a fast stroke leaves.</p>"
        "<p>Paint over hair, fur or a veil with the yellow Edge Marker (G): its pixels are neither "
        "kept nor removed, their transparency and colour are worked out from the photo. In "
        "Preferences, Isolation: Precise finds the object by a cut along the photo's own edges and "
        "keeps only what joins a green stroke; it often needs fewer strokes.</p>"

        "<p>See also: the video tutorials on our web site, "
        "<a href=\"https://peltrix.example/tutorials\">https://peltrix.example/tutorials</a>.</p>"
        "</body></html>")));
}

QString HelpDialog::withTranslatedScreenshots(QString html)
{
    // The screenshots show the program in the language of the text around them: a translation
    // names its own folder of them, and those found there stand in for the English ones.
    const QString language = tr("en", "the folder of this language's help screenshots, :/help/<this>/");
    if (language == QLatin1String("en"))
        return html;
    static const QRegularExpression shot(QStringLiteral(":/icons/(peltsmp\\d+\\.png)"));
    QString translated;
    qsizetype done = 0;
    for (auto it = shot.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString own = QStringLiteral(":/help/%1/%2").arg(language, match.captured(1));
        translated += QStringView(html).mid(done, match.capturedStart() - done);
        translated += QFile::exists(own) ? own : match.captured();
        done = match.capturedEnd();
    }
    translated += QStringView(html).mid(done);
    return translated;
}
