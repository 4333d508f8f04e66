#include "UI/Preview/DesktopDialogs.h"

#include <algorithm>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

namespace pallix {

namespace {

// Qt sizes a message box for a sentence, and a long file name in it then
// wraps inside a word. The informative text gets room for a name of 60
// characters on one or two lines (32 Chinese characters a line), and an
// unbroken name (no space) on one line, as far as the screen is wide.
void widenForNames(QMessageBox* box)
{
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (!label)
        return;
    const QFontMetrics metrics(label->font());
    const int text = metrics.horizontalAdvance(label->text());
    int longestWord = 0;
    for (const QString& word : label->text().split(QRegularExpression(QStringLiteral("[\\s/]+"))))
        longestWord = std::max(longestWord, metrics.horizontalAdvance(word));
    const int line = metrics.horizontalAdvance(QString(32, QChar(0x6C49)));
    const QScreen* screen = box->screen();
    // The box's icon and margins take about 100 pixels beside the text.
    const int most = screen ? screen->availableGeometry().width() - 100 : 1200;
    label->setMinimumWidth(std::min(std::max(std::min(text, line), longestWord), most) + 2);
}

// A sheet on the active window, so the rest of the application stays usable;
// with no window, a dialog of the application.
QMessageBox* warningBox(const QString& text, const QString& informative)
{
    QWidget* parent = QApplication::activeWindow();
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), text, QMessageBox::NoButton, parent);
    box->setInformativeText(informative);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    widenForNames(box);
    return box;
}

} // namespace

void WidgetDesktop::alert(const QString& title, const QString& message)
{
    QMessageBox* box = warningBox(title, message);
    box->addButton(QStringLiteral("好"), QMessageBox::AcceptRole);
    box->open();
}

void WidgetDesktop::confirm(const ConfirmationRequest& request, std::function<void(bool)> answer)
{
    QMessageBox* box = warningBox(request.message, request.informative);
    QPushButton* accept = box->addButton(request.acceptText, QMessageBox::AcceptRole);
    // What is asked is destructive (the trash): Return keeps the file.
    box->setDefaultButton(box->addButton(request.cancelText, QMessageBox::RejectRole));
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, accept, answer = std::move(answer)](int) { answer(box->clickedButton() == accept); });
    box->open();
}

std::shared_ptr<DesktopEffects> makeWidgetDesktop()
{
    return std::make_shared<WidgetDesktop>();
}

} // namespace pallix
