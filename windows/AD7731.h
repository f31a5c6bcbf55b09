// The AD converter register window: reads and writes the registers of the
// converter's AD7731 and sets the RTS polarity of the line. A service window;
// the main window opens it modally and destroys it when it closes.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TADconv;
}

namespace zorm {

struct Context;
class Drv232;
class MessageBoxService;

class TADconv : public QDialog {
    Q_OBJECT

public:
    TADconv(Context& context, Drv232& link, MessageBoxService& boxes, QWidget* parent = nullptr);
    ~TADconv() override;

    // Runs once per opening, once the window is shown: "RTS" shows
    // RtsOnTransmit, then the warning that the window is for testing and
    // production set-up. Later calls do nothing.
    void FormActivate();

    // "Přečti z registru": reads the register chosen in RadioGroup1 and shows
    // the three bytes in decimal and hexadecimal.
    void Button1Click();
    // "Zapiš do registru": takes the two hexadecimal entries into AdcRegBytes
    // and writes the register chosen in RadioGroup2.
    void Button2Click();
    // "Nulování parametrů" (a hidden button): port 1, address 1, identity
    // polynomials of the user set, and saves Parametry.par. No confirmation.
    void Button3Click();
    // RtsOnTransmit follows "RTS" when the input focus leaves it.
    void CheckBox6Exit();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::TADconv> ui;

    Context& context_;
    Drv232& link_;
    MessageBoxService& boxes_;

    bool activated_ = false;
};

} // namespace zorm
