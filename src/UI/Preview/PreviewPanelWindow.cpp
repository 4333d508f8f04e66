#include "UI/Preview/PreviewPanelWindow.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QThreadPool>
#include <QVBoxLayout>

#include "App/SystemPaths.h"
#include "Core/Models/IndexedItem.h"
#include "Core/Preview/RasterDecoding.h"
#include "Core/Preview/ThumbnailProvider.h"

namespace pallix {

struct PreviewPanelWindow::Content {
    Shown kind = Shown::Info;
    QImage picture;
    QString text;
    QString details;  // the line under the content
    bool isDirectory = false;
};

namespace {

QString sizeAndDate(const QFileInfo& info, const QString& name)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QStringList parts{name};
    if (info.isFile())
        parts.append(chinese.formattedDataSize(info.size()));
    parts.append(chinese.toString(info.lastModified(), QLocale::ShortFormat));
    return parts.join(QStringLiteral(" · "));
}

QString duration(const QImage& frame)
{
    bool ok = false;
    const int seconds = frame.text(QStringLiteral("Thumb::Movie::Length")).toInt(&ok);
    if (!ok)
        return {};
    return QStringLiteral("时长 %1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

RasterDecoding::Kind kindOf(const QFileInfo& info)
{
    const std::string extension = info.suffix().toLower().toStdString();
    if (kinds::isImageExtension(extension))
        return RasterDecoding::Kind::Image;
    if (kinds::isVideoExtension(extension))
        return RasterDecoding::Kind::Video;
    if (extension == "pdf")
        return RasterDecoding::Kind::Pdf;
    return RasterDecoding::Kind::None;
}

QString firstTextBytes(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(limit);
    // A character cut at the limit is dropped by the decoder's final state.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return utf8.decode(bytes);
}

} // namespace

PreviewPanelWindow::PreviewPanelWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_stack(new QStackedWidget(this)),
      m_pictureLabel(new QLabel(this)),
      m_text(new QPlainTextEdit(this)),
      m_icon(new QLabel(this)),
      m_details(new QLabel(this))
{
    setWindowTitle(QStringLiteral("预览"));
    resize(720, 560);
    m_pictureLabel->setAlignment(Qt::AlignCenter);
    m_pictureLabel->setMinimumSize(1, 1);
    m_text->setReadOnly(true);
    m_text->setFocusPolicy(Qt::NoFocus);  // the window keeps Space, Esc and the arrows
    m_icon->setAlignment(Qt::AlignCenter);
    m_details->setAlignment(Qt::AlignCenter);
    m_details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_stack->addWidget(m_pictureLabel);
    m_stack->addWidget(m_text);
    m_stack->addWidget(m_icon);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_stack, 1);
    layout->addWidget(m_details);
    setFocusPolicy(Qt::StrongFocus);
}

PreviewPanelWindow::~PreviewPanelWindow()
{
    if (PreviewPanel::shared() == this)
        PreviewPanel::setShared(nullptr);
}

void PreviewPanelWindow::present(PreviewController* source, int index)
{
    m_source = source;
    showIndex(index);
    show();
    raise();
    activateWindow();
}

QString PreviewPanelWindow::shownText() const
{
    return m_text->toPlainText();
}

QString PreviewPanelWindow::shownDetails() const
{
    return m_details->text();
}

PreviewPanelWindow::Content PreviewPanelWindow::load(const QString& path)
{
    // The name and its suffix from the stored path, the file by its bytes.
    const QFileInfo named(path);
    const systempaths::PathForQt readable(path);
    const QFileInfo info(readable.path());
    Content content;
    content.isDirectory = info.isDir();
    content.details = sizeAndDate(info, systempaths::display(named.fileName()));
    const RasterDecoding::Kind kind = content.isDirectory ? RasterDecoding::Kind::None : kindOf(named);
    if (kind != RasterDecoding::Kind::None) {
        content.picture = RasterDecoding::decode(kind, path, kPictureSide);
        if (!content.picture.isNull()) {
            content.kind = Shown::Picture;
            if (kind == RasterDecoding::Kind::Video && !duration(content.picture).isEmpty())
                content.details += QStringLiteral(" · ") + duration(content.picture);
            return content;
        }
    }
    if (!content.isDirectory && info.isFile()) {
        static const QMimeDatabase mimes;
        if (mimes.mimeTypeForFile(readable.path()).inherits(QStringLiteral("text/plain"))) {
            content.kind = Shown::Text;
            content.text = firstTextBytes(readable.path(), kTextBytes);
        }
    }
    return content;
}

void PreviewPanelWindow::showIndex(int index)
{
    if (!m_source || m_source->count() == 0) {
        m_index = 0;
        m_path.clear();
        showContent(Content{Shown::Nothing, {}, {}, {}, false});
        return;
    }
    m_index = std::clamp(index, 0, m_source->count() - 1);
    m_path = systempaths::fromUrl(m_source->itemAt(m_index));
    setWindowTitle(systempaths::display(QFileInfo(m_path).fileName()));
    m_shown = Shown::Loading;
    const quint64 generation = ++m_generation;
    QPointer<PreviewPanelWindow> guard(this);
    // Reading and decoding an unknown file may take long: never here.
    QThreadPool::globalInstance()->start([guard, generation, path = m_path] {
        Content content = load(path);
        QMetaObject::invokeMethod(
            guard.data(),
            [guard, generation, content = std::move(content)] {
                if (guard && generation == guard->m_generation)
                    guard->showContent(content);
            },
            Qt::QueuedConnection);
    });
}

void PreviewPanelWindow::showContent(const Content& content)
{
    m_shown = content.kind;
    m_picture = content.picture;
    m_details->setText(content.details);
    switch (content.kind) {
    case Shown::Picture:
        m_stack->setCurrentWidget(m_pictureLabel);
        fitPicture();
        break;
    case Shown::Text:
        m_text->setPlainText(content.text);
        m_stack->setCurrentWidget(m_text);
        break;
    case Shown::Info:
        m_icon->setPixmap(ThumbnailProvider::shared().fallbackImage(m_path, content.isDirectory, 192));
        m_stack->setCurrentWidget(m_icon);
        break;
    case Shown::Nothing:
    case Shown::Loading:
    case Shown::Count:
        m_icon->clear();
        m_stack->setCurrentWidget(m_icon);
        break;
    }
    emit contentShown();
}

void PreviewPanelWindow::fitPicture()
{
    if (m_picture.isNull())
        return;
    const QSize room = m_pictureLabel->size().boundedTo(m_picture.size());
    m_pictureLabel->setPixmap(
        QPixmap::fromImage(m_picture.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void PreviewPanelWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_shown == Shown::Picture)
        fitPicture();
}

void PreviewPanelWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Escape:
        hide();
        return;
    case Qt::Key_Left:
        if (m_index > 0)
            showIndex(m_index - 1);
        return;
    case Qt::Key_Right:
        if (m_source && m_index + 1 < m_source->count())
            showIndex(m_index + 1);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void installPreviewPanel()
{
    static PreviewPanelWindow* window = new PreviewPanelWindow;
    PreviewPanel::setShared(window);
}

} // namespace pallix
