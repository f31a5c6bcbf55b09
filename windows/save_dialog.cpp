#include "windows/save_dialog.h"

#include <QFileDialog>

namespace zorm {

void PrepareSaveDialog(QFileDialog& dialog, const QString& defaultSuffix,
                       const QString& offeredName) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Složka:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Název souboru:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Typ souboru:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("&Uložit"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("&Zrušit"));
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.selectFile(offeredName);
}

} // namespace zorm
