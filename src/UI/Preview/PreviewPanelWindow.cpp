#include "UI/Preview/PreviewPanelWindow.h"

#include <optional>

#include <QApplication>
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
#include <QVBoxLayout>

#include "App/Paths/ShownNames.h"
#include "App/Paths/SystemPaths.h"
#include "Core/Models/IndexedItem.h"
#include "App/Preview/RasterDecoding.h"
#include "App/Preview/RegularFile.h"
#include "App/Preview/ThumbnailProvider.h"
#include "UI/Common/WindowPlacement.h"
#include "UI/Results/ResultTexts.h"

namespace pallix {

struct PreviewPanelWindow::Content {
    Shown kind = Shown::Info;
    QImage picture;
    QString text;
    QString details;  // the line under the content
    bool isDirectory = false;
    RegularFile::Type type = RegularFile::Type::Regular;  // what the path leads to
};

namespace {

QString sizeAndDate(const QFileInfo& info, RegularFile::Type type, const QString& name)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QStringList parts{name};
    if (RegularFile::isSpecial(type))
        parts.append(RegularFile::typeName(type));
    else if (info.isFile())
        parts.append(ResultTexts::fileSizeText(info.size()));  // as the list writes it
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

// The first `limit` bytes of a plain-text file, sniffed on the same
// descriptor they are read from; nothing for any other file.
std::optional<QString> firstTextBytes(const QString& path, qint64 limit)
{
    QFile file;
    if (!RegularFile::open(file, path))
        return std::nullopt;
    static const QMimeDatabase mimes;
    if (!mimes.mimeTypeForFileNameAndData(path, &file).inherits(QStringLiteral("text/plain")))
        return std::nullopt;
    file.seek(0);
    QByteArray bytes = file.read(limit);
    // A character cut at the limit is dropped by the decoder's final state.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return utf8.decode(bytes);
}

} // namespace

PreviewPanelWindow::PreviewPanelWindow(QWidget* parent, std::shared_ptr<Clock> clock)
    : QWidget(parent, Qt::Window),
      m_stack(new QStackedWidget(this)),
      m_pictureLabel(new QLabel(this)),
      m_text(new QPlainTextEdit(this)),
      m_icon(new QLabel(this)),
      m_details(new QLabel(this)),
      m_loads(4, std::move(clock), std::chrono::milliseconds(RasterDecoding::kDecodeBudgetMs))
{
    setWindowTitle(QStringLiteral("预览"));
    resize(720, 560);
    m_pictureLabel->setAlignment(Qt::AlignCenter);
    m_pictureLabel->setMinimumSize(1, 1);
    m_text->setReadOnly(true);
    m_text->setFocusPolicy(Qt::NoFocus);  // the window keeps Space, Esc and the arrows
    m_icon->setAlignment(Qt::AlignCenter);
    m_details->setAlignment(Qt::AlignCenter);
    m_details->setTextFormat(Qt::PlainText);  // a name such as "<b>x</b>" is not markup
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
    m_items = source ? source->items() : QList<QUrl>();
    showIndex(index);
    if (!QWidget::isVisible())
        WindowPlacement::placeForOpening(this, QApplication::activeWindow());
    show();
    raise();
    activateWindow();
}

void PreviewPanelWindow::sourceDestroyed(const PreviewController* source)
{
    if (source == m_source)
        m_source = nullptr;
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
    content.type = RegularFile::typeOf(systempaths::bytes(path).toStdString());
    content.isDirectory = content.type == RegularFile::Type::Directory;
    content.details = sizeAndDate(info, content.type, shownnames::shown(named.fileName()));
    // A pipe, socket or device is named, never opened: a pipe without a
    // writer would hold the load for ever.
    if (RegularFile::isSpecial(content.type))
        return content;
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
    if (content.type == RegularFile::Type::Regular) {
        if (std::optional<QString> text = firstTextBytes(readable.path(), kTextBytes)) {
            content.kind = Shown::Text;
            content.text = std::move(*text);
        }
    }
    return content;
}

void PreviewPanelWindow::showIndex(int index)
{
    if (m_items.isEmpty()) {
        m_index = 0;
        m_path.clear();
        showContent(Content{Shown::Nothing, {}, {}, {}, false, RegularFile::Type::Missing});
        return;
    }
    m_index = std::clamp(index, 0, static_cast<int>(m_items.size()) - 1);
    m_path = systempaths::fromUrl(m_items.at(m_index));
    const QString name = shownnames::shown(QFileInfo(m_path).fileName());
    setWindowTitle(name);
    // Until the new file is read, nothing of the previous one stays: a large
    // picture takes seconds, and the old one would pass for it.
    showContent(Content{Shown::Loading, {}, {}, name, false, RegularFile::Type::Regular});
    const quint64 generation = ++m_generation;
    m_newest->store(generation);
    QPointer<PreviewPanelWindow> guard(this);
    // Reading and decoding an unknown file may take long: never here.
    // A load that a newer one replaced before it began reads nothing.
    m_loads.start<Content>([path = m_path, generation, newest = m_newest] {
                               return newest->load() == generation ? load(path) : Content{};
                           },
                           [guard, generation, name](std::optional<Content> content) {
                               if (!guard || generation != guard->m_generation)
                                   return;
                               if (!content) {
                                   content.emplace();  // given up on: the icon and the name
                                   content->details = name + QStringLiteral(" · 读取超时");
                               }
                               guard->showContent(*content);
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
        m_icon->setPixmap(RegularFile::isSpecial(content.type)
                              ? ThumbnailProvider::shared().typeImage(content.type, 192)
                              : ThumbnailProvider::shared().fallbackImage(m_path, content.isDirectory, 192));
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
        if (m_index + 1 < m_items.size())
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
