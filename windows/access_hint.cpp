#include "windows/access_hint.h"

#include <QStringList>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace zorm {

QString DeniedAccessHint(const std::vector<DeniedPort>& denied, const QString& user) {
    QStringList ports;
    QStringList groups;
    for (const DeniedPort& port : denied) {
        ports << QStringLiteral("COM%1 (%2)")
                     .arg(port.Number)
                     .arg(QString::fromStdString(port.Device));
        const QString group = QString::fromStdString(port.Group);
        if (!group.isEmpty() && !groups.contains(group)) {
            groups << group;
        }
    }
    const bool onePort = denied.size() == 1;
    QString text = (onePort ? QStringLiteral("K portu ") : QStringLiteral("K portům ")) +
                   ports.join(QStringLiteral(", ")) + QStringLiteral(" nemáte přístup.\n\n");
    if (groups.isEmpty()) {
        return text + QStringLiteral("Požádejte správce počítače o přístup k zařízení.");
    }
    const bool oneGroup = groups.size() == 1;
    text += onePort ? QStringLiteral("Port") : QStringLiteral("Porty");
    text += oneGroup ? QStringLiteral(" mohou používat členové skupiny ")
                     : QStringLiteral(" mohou používat členové skupin ");
    text += groups.join(QStringLiteral(", "));
    text += oneGroup ? QStringLiteral(". Přidejte se do ní příkazem\n\n")
                     : QStringLiteral(". Přidejte se do nich příkazem\n\n");
    return text + QStringLiteral("    sudo usermod -a -G ") + groups.join(QLatin1Char(',')) +
           QLatin1Char(' ') + user +
           QStringLiteral("\n\na pak se odhlaste a znovu přihlaste: členství ve skupině platí až "
                          "od nového přihlášení.");
}

QString CurrentUserName() {
#ifndef _WIN32
    if (const passwd* entry = getpwuid(geteuid())) {
        return QString::fromLocal8Bit(entry->pw_name);
    }
#endif
    return qEnvironmentVariable("USER", QStringLiteral("uživatel"));
}

} // namespace zorm
