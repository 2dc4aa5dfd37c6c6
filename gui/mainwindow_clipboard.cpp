// The clipboard: Copy puts the picture Export would write on it, Paste opens a picture from it.
#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include <QBuffer>
#include <QClipboard>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QPointer>
#include <QRegularExpression>
#include <QUrl>

#include "gui/cutoutdocument.h"
#include "output/pictureio.h"
#include "output/pngwriter.h"

void MainWindow::on_actionCopy_triggered()
{
    if (document.isBusy())
        return;
    // Only a preview that shows the photo has anything to copy.
    if (!backgroundItem || !document.cutout().item() || !photoItem) {
        setStatus(tr("Switch the preview on to copy its picture"));
        return;
    }
    // At the size the export starts from: the photo's, or a background picture's.
    const QSize size = session().exportStartSize();
    const QString stage = tr("Composing the picture for the clipboard");
    QImage picture;
    QByteArray png;
    document.runWaiting([&] {
        document.setStage(stage);
        picture = session().exportImage(size);
        if (picture.isNull())
            return;
        // Written as the export writes a .png, so that a paste elsewhere gets the same bytes.
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !writePng(picture, buffer))
            png.clear();
    });
    if (picture.isNull() || png.isEmpty()) {
        setStatus(tr("Could not copy the picture: not enough memory"));
        return;
    }
    auto *data = new QMimeData;
    data->setImageData(picture);
    data->setData(QStringLiteral("image/png"), png);
    QGuiApplication::clipboard()->setMimeData(data);
    setStatus(tr("Copied the picture (%1 x %2) to the clipboard").arg(size.width()).arg(size.height()));
}

QString MainWindow::pastedFile(const QMimeData *data) const
{
    // A picture file copied in a file manager; a web page's picture comes with its address,
    // which is no file.
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    return reader.canRead() ? path : QString();
}

QImage MainWindow::pastedPicture(const QMimeData *data, QString &reason)
{
    // Encoded pictures go through the reader that files go through: the same size limit, and
    // a camera's picture the right way up. PNG first, as it keeps transparency; each other
    // format is fetched only if needed, since the program offering it may convert it first.
    QStringList formats = data->formats().filter(QRegularExpression(QStringLiteral("^image/")));
    if (formats.removeAll(QStringLiteral("image/png")))
        formats.prepend(QStringLiteral("image/png"));
    // The window keeps running while a picture is read: another program may take the
    // clipboard meanwhile, and its old contents go.
    const QPointer<const QMimeData> offered(data);
    QImage picture;
    for (const QString &format : std::as_const(formats)) {
        const QByteArray bytes = data->data(format);
        document.runWaiting([&] {
            QBuffer buffer;
            buffer.setData(bytes);
            if (buffer.open(QIODevice::ReadOnly))
                picture = readPicture(&buffer, &reason);
        });
        if (!picture.isNull() || !offered)
            return picture;
    }
    if (data->hasImage())
        picture = acceptPicture(qvariant_cast<QImage>(data->imageData()), &reason);
    return picture;
}

void MainWindow::on_actionPaste_triggered()
{
    if (document.isBusy())
        return;
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data) {
        setStatus(tr("The clipboard holds no picture"));
        return;
    }
    const QString file = pastedFile(data);
    if (!file.isEmpty()) {
        openFile(file);
        return;
    }
    QString reason;
    const QImage picture = pastedPicture(data, reason);
    if (picture.isNull()) {
        // What was there stays: a paste that finds nothing must not cost the user their work.
        setStatus(reason.isEmpty() ? tr("The clipboard holds no picture")
                                   : tr("The clipboard's picture cannot be opened: %1").arg(reason));
        return;
    }
    // The cut of the photo open so far is kept, as an open keeps it.
    QString kept;
    if (!keepUnsavedWork(kept))
        return;
    showOpened(tr("Pasted picture"), [&] {
        document.open(picture);
        return true;
    });
    afterOpen();
    if (!kept.isEmpty())
        setStatus(kept);
}
