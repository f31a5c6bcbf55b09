// The program's save dialogs: Qt's own file dialog in Czech, run by the
// caller through its ModalRunner (so that tests drive it).
#pragma once

class QFileDialog;
class QString;

namespace zorm {

// Makes `dialog` a save dialog with Czech captions that adds
// `defaultSuffix` to a name typed without one and offers `offeredName`.
void PrepareSaveDialog(QFileDialog& dialog, const QString& defaultSuffix,
                       const QString& offeredName);

} // namespace zorm
