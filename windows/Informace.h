// The information window: who services and extends the program, and how to
// reach them. The contact comes from the deployer's contact file beside
// Parametry.par (data/contact_file.h); without it the fields say so.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TInfo;
}

namespace zorm {

class TInfo : public QDialog {
    Q_OBJECT

public:
    explicit TInfo(QWidget* parent = nullptr);
    ~TInfo() override;

    // "&Zpět": closes the window.
    void Button1Click();

private:
    std::unique_ptr<Ui::TInfo> ui;
};

// What a field shows when the contact file does not give it.
inline constexpr const char* ContactPlaceholder = "neuvedeno";

} // namespace zorm
