// The program-wide application. It is declared in Forms.h: the application closes its main
// form, and closing the main form ends the program, so the two share a header.
#include "Forms.h"
#include "HelpViewer.h"

#include <QApplication>
#include <QMessageBox>

TApplication* Application = nullptr;

void ReportException(std::exception_ptr error) {
    if (Application) {
        Application->HandleException(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        qWarning("%s", e.what());
    } catch (...) {
        qWarning("unknown error");
    }
}

TApplication::TApplication() : TComponent(nullptr) {
    Application = this;
    qRegisterMetaType<TNotifyEvent>();
}

TApplication::~TApplication() {
    Destroying();
    DestroyComponents();
    FHelpViewer.reset();
    if (Application == this) Application = nullptr;
}

THelpViewer* TApplication::HelpViewer() {
    if (!FHelpViewer) FHelpViewer = std::make_unique<THelpViewer>();
    return FHelpViewer.get();
}

bool TApplication::HelpCommand(int command, int data) {
    Q_UNUSED(data);
    if (FHelpFile.isEmpty()) return false;
    switch (command) {
    case HELP_CONTENTS:
        return HelpViewer()->ShowContents(FHelpFile);
    case HELP_QUIT:
        if (FHelpViewer) FHelpViewer->Quit();
        return true;
    default:
        return false;
    }
}

bool TApplication::HelpContents() {
    return HelpCommand(HELP_CONTENTS, 0);
}

void TApplication::SetTitle(const QString& v) {
    // Only the task-bar text: Qt would append a display name to every window title,
    // and a window's title is its form's caption as it stands.
    FTitle = v;
}

void TApplication::Notification(TComponent* c, TOperation op) {
    TComponent::Notification(c, op);
    if (op == TOperation::opRemove && c == FMainForm) FMainForm = nullptr;
}

void TApplication::DestroyComponents() {
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
}

void TApplication::EndSession() {
    // The sequence of the program's exit command: the main form closes (the forms save on
    // the way) and the message loop ends; the forms are destroyed after it and save again.
    if (FMainForm && !FMainForm->IsDestroying()) FMainForm->Close();
    // A main form that refused, or none yet: the session ends all the same.
    if (!FTerminated) Terminate();
}

void TApplication::Run() {
    FRunning = true;
    if (FMainForm && !FTerminated)
        Guard([&] {
            FMainForm->Show();
            // The main window starts active, also where no window manager activates it.
            if (QWidget* w = FMainForm->Widget()) w->activateWindow();
        });
    if (!FTerminated) QApplication::exec();
    FRunning = false;
}

void TApplication::Terminate() {
    FTerminated = true;
    // exit(), not quit(): Qt's quit asks every window to close and gives up when
    // one refuses, and the forms have already run their own close sequence.
    QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TApplication::HandleException(std::exception_ptr error) {
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        if (!e.Subject().isEmpty()) {
            if (FToldSubjects.contains(e.Subject())) return;
            FToldSubjects.insert(e.Subject());
        }
        message = e.Message();
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unbekannter Fehler");
    }
    if (OnException) {
        OnException(message);
        return;
    }
    // A message box leaves no trace once dismissed; the error output keeps it.
    qWarning("%s", qUtf8Printable(message));
    QMessageBox::critical(nullptr, FTitle, message);
}
