#include "database/ServerAddress.h"

#include "database/DatabaseError.h"

#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

namespace {

DatabaseError badUrl(const QString &location, const QString &why)
{
    return DatabaseError(QStringLiteral("Die Datenbankadresse \u201e%1\u201c ist ung\u00fcltig: %2. Erwartet wird "
                                        "postgresql://BENUTZER@RECHNER[:PORT]/DATENBANK.")
                             .arg(location, why));
}

// libpq takes a socket folder in the host's place, percent-encoded. QUrl reads
// a host as a DNS name (lower case, no '/'), so it reads such a URL with a
// stand-in host from the reserved .invalid domain, and the folder is put back.
const QString StandInHost = QStringLiteral("socket-folder.invalid");

struct ServerUrl {
    QUrl url;
    QString socketFolder;   // as written, percent-encoded

    explicit ServerUrl(const QString &location)
    {
        if (!ServerAddress::IsServerLocation(location))
            throw badUrl(location, QStringLiteral("sie ist keine PostgreSQL-URL"));
        const qsizetype start = location.indexOf(QLatin1String("://")) + 3;
        qsizetype end = start;
        while (end < location.size() && location.at(end) != QLatin1Char('/') && location.at(end) != QLatin1Char('?'))
            ++end;
        const qsizetype at = location.lastIndexOf(QLatin1Char('@'), end - 1);
        const qsizetype hostStart = at >= start ? at + 1 : start;
        QString text = location;
        if (location.mid(hostStart, 3).compare(QLatin1String("%2F"), Qt::CaseInsensitive) == 0) {
            // The folder's own ':' is encoded; a plain one starts the port.
            const qsizetype colon = location.indexOf(QLatin1Char(':'), hostStart);
            const qsizetype hostEnd = colon >= 0 && colon < end ? colon : end;
            socketFolder = location.mid(hostStart, hostEnd - hostStart);
            text.replace(hostStart, hostEnd - hostStart, StandInHost);
        }
        url = QUrl(text);
        if (!url.isValid())
            throw badUrl(location, QStringLiteral("Rechner oder Port sind nicht lesbar (ein @, :, / oder ? in Benutzer "
                                                  "oder Passwort wird als %40, %3A, %2F oder %3F geschrieben)"));
    }

    QString host() const
    {
        return socketFolder.isEmpty() ? url.host(QUrl::FullyDecoded) : QUrl::fromPercentEncoding(socketFolder.toUtf8());
    }

    bool hasPassword() const
    {
        return !url.password().isEmpty() || QUrlQuery(url).hasQueryItem(QStringLiteral("password"));
    }

    // The URL with its password replaced (an empty replacement removes it).
    QString withPassword(const QString &replacement) const
    {
        QUrl changed = url;
        if (!changed.password().isEmpty())
            changed.setPassword(replacement.isEmpty() ? QString() : replacement);
        QList<QPair<QString, QString>> items;
        for (const auto &item : QUrlQuery(url).queryItems(QUrl::FullyEncoded)) {
            if (item.first != QLatin1String("password"))
                items << item;
            else if (!replacement.isEmpty())
                items << qMakePair(item.first, replacement);
        }
        if (items.isEmpty()) {
            changed.setQuery(QString());
        } else {
            QUrlQuery query;
            query.setQueryItems(items);
            changed.setQuery(query);
        }
        QString text = changed.toString(QUrl::FullyEncoded);
        if (!socketFolder.isEmpty())
            text.replace(text.indexOf(StandInHost), StandInHost.size(), socketFolder);
        return text;
    }
};

bool isKeyword(const QString &key)
{
    return !key.isEmpty() && std::all_of(key.begin(), key.end(), [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('_');
    });
}

} // namespace

bool ServerAddress::IsServerLocation(const QString &location)
{
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
           || location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

ServerAddress ServerAddress::Parse(const QString &location)
{
    const ServerUrl parsed(location);
    const QUrl &url = parsed.url;
    ServerAddress address;
    address.host = parsed.host();
    address.port = url.port();
    address.user = url.userName(QUrl::FullyDecoded);
    address.password = url.password(QUrl::FullyDecoded);
    address.database = url.path(QUrl::FullyDecoded).mid(1);
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key.isEmpty() || value.isNull())
            throw badUrl(location, QStringLiteral("der Parameter \u201e%1\u201c hat keinen Wert")
                                       .arg(key.isEmpty() ? QLatin1Char('=') + value : key));
        if (!isKeyword(key))
            throw badUrl(location, QStringLiteral("der Parameter \u201e%1\u201c ist unbekannt").arg(key));
        if (key == QLatin1String("host"))
            address.host = value;
        else if (key == QLatin1String("port"))
            address.port = value.toInt();
        else if (key == QLatin1String("user"))
            address.user = value;
        else if (key == QLatin1String("password"))
            address.password = value;
        else if (key == QLatin1String("dbname"))
            address.database = value;
        else
            address.options << key + QLatin1Char('=') + value;
    }
    if (address.database.isEmpty())
        throw badUrl(location, QStringLiteral("der Name der Datenbank fehlt"));
    address.display = parsed.hasPassword() ? parsed.withPassword(QStringLiteral("***")) : location;
    return address;
}

QString ServerAddress::WithoutPassword(const QString &location)
{
    Parse(location);
    const ServerUrl parsed(location);
    return parsed.hasPassword() ? parsed.withPassword(QString()) : location;
}
