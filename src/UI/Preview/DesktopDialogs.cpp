#include "UI/Preview/DesktopDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace pallix {

namespace {

// A sheet on the active window, so the rest of the application stays usable;
// with no window, a dialog of the application.
QMessageBox* warningBox(const QString& text, const QString& informative)
{
    QWidget* parent = QApplication::activeWindow();
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), text, QMessageBox::NoButton, parent);
    box->setInformativeText(informative);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
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
    box->addButton(request.cancelText, QMessageBox::RejectRole);
    box->setDefaultButton(accept);
    QObject::connect(box, &QMessageBox::finished, box,
                     [box, accept, answer = std::move(answer)](int) { answer(box->clickedButton() == accept); });
    box->open();
}

std::shared_ptr<DesktopEffects> makeWidgetDesktop()
{
    return std::make_shared<WidgetDesktop>();
}

} // namespace pallix
