// Message boxes and modal windows, behind two small interfaces.
//
// Every window turns a failure into a modal box through MessageBoxService and
// opens its modal windows through ModalRunner. The program installs the Qt
// implementations; the tests install their own, which record every box and
// answer it, or drive a modal window instead of waiting for a user.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace zorm {

enum class BoxKind { Error, Warning, Information };
enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // Shows a modal box and returns the button the user chose.
    virtual BoxAnswer Show(BoxKind kind, const QString& text, BoxButtons buttons) = 0;
};

// A QMessageBox titled "Error", "Warning" or "Information" with the icon of its
// kind and the buttons "OK" or "&Yes" and "&No". Closing a question without an
// answer counts as "&No".
class QtMessageBoxService : public MessageBoxService {
public:
    BoxAnswer Show(BoxKind kind, const QString& text, BoxButtons buttons) override;
};

// Runs a modal window to its end and returns its result code (QDialog::Accepted
// or QDialog::Rejected, or what the window passed to done()).
class ModalRunner {
public:
    virtual ~ModalRunner() = default;
    virtual int Run(QDialog& dialog) = 0;
};

class QtModalRunner : public ModalRunner {
public:
    int Run(QDialog& dialog) override;
};

} // namespace zorm
