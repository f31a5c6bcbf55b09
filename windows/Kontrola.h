// The constants view: the twelve coefficients of the last export, read back
// from ZORM5816.par.
#pragma once

#include <QDialog>

#include <array>
#include <memory>

class QLabel;
class QShowEvent;

namespace Ui {
class TKontrol;
}

namespace zorm {

struct Context;
class MessageBoxService;

class TKontrol : public QDialog {
    Q_OBJECT

public:
    TKontrol(Context& context, MessageBoxService& boxes, QWidget* parent = nullptr);
    ~TKontrol() override;

    // Once per opening: ZORM5816.par into PolyCoeffs (an error box when it
    // cannot be read), then the table shows PolyCoeffs.
    void FormActivate();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::array<QLabel*, 12> ValueLabels() const;

    std::unique_ptr<Ui::TKontrol> ui;
    Context& context_;
    MessageBoxService& boxes_;
    bool activated_ = false;
};

} // namespace zorm
