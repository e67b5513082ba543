// Themes are indexed once from the folders Qt searches; the lookup is our own because Qt 6.4 does not
// find GTK's ".symbolic.png" files, which is how the Adwaita theme ships its monochrome icons.
#include "Kestrune/Screens/Icons.h"

#include "KestruneCore/Model/CategoryKind.h"

#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>

#include <array>
#include <map>
#include <string>
#include <vector>

namespace Icons {
namespace {

struct Row {
    std::string_view key;
    std::vector<QString> names;
};

const std::vector<Row>& table() {
    static const std::vector<Row> rows{
        {"square.grid.2x2", {"view-grid"}},
        {"square.grid.3x3.fill", {"view-app-grid", "view-grid"}},
        {"trash.square", {"edit-delete", "user-trash"}},
        {"wrench.and.screwdriver", {"applications-engineering", "preferences-system"}},
        {"gearshape.2", {"preferences-system", "system-run"}},
        {"person.crop.circle", {"system-users", "avatar-default", "user-info"}},
        {"clock", {"document-open-recent", "appointment-soon"}},
        {"clock.arrow.circlepath", {"document-open-recent"}},
        {"trash", {"user-trash"}},
        {"trash.fill", {"user-trash-full", "user-trash"}},
        {"trash.circle.fill", {"user-trash-full", "user-trash"}},
        {"wand.and.stars", {"system-run", "view-refresh"}},
        {"arrow.clockwise", {"view-refresh"}},
        {"sparkles", {"emblem-default", "emblem-ok"}},
        {"checkmark", {"object-select", "emblem-ok"}},
        {"checkmark.circle.fill", {"emblem-default", "emblem-ok"}},
        {"exclamationmark.triangle", {"dialog-warning"}},
        {"exclamationmark.triangle.fill", {"dialog-warning"}},
        {"arrow.up.right.square", {"folder-open", "document-open"}},
        {"icloud.and.arrow.down", {"folder-remote", "folder-download"}},
        {"icloud", {"folder-remote"}},
        {"info.circle", {"dialog-information"}},
        {"info.circle.fill", {"dialog-information"}},
        {"play.fill", {"media-playback-start"}},
        {"magnifyingglass", {"edit-find", "system-search"}},
        {"flame", {"edit-clear-all", "edit-clear"}},
        {"arrow.uturn.backward", {"edit-undo"}},
        {"lock.shield", {"channel-secure", "changes-prevent"}},
        {"arrow.up.forward.app", {"preferences-system"}},
        {"doc.on.clipboard", {"edit-copy"}},
        {"folder", {"folder"}},
        {"shippingbox", {"package-x-generic"}},
        {"doc.text", {"text-x-generic"}},
        {"hammer", {"applications-engineering"}},
        {"shippingbox.fill", {"folder"}},
        {"cube.box", {"package-x-generic"}},
        {"square.stack.3d.up", {"view-paged", "view-list"}},
        {"camera.viewfinder", {"applets-screenshooter", "camera-photo"}},
        {"arrow.down.circle", {"folder-download"}},
        {"app.dashed", {"application-x-addon"}},
        {"iphone.gen3", {"phone"}},
        {"cube.transparent", {"application-x-appliance", "x-package-repository"}},
        {"doc.viewfinder", {"x-office-document", "edit-find"}},
        {"paperclip", {"mail-attachment"}},
        {"iphone.badge.play", {"multimedia-player"}},
        {"eye.slash", {"view-conceal"}},
        {"doc.on.doc", {"edit-copy"}},
        {"globe", {"preferences-desktop-locale", "web-browser"}},
        {"photo.on.rectangle.angled", {"image-x-generic"}},
        {"music.note.tv", {"audio-x-generic", "video-x-generic"}},
        {"app", {"application-x-executable", "application-x-addon"}},
        {"xmark.circle.fill", {"edit-clear", "window-close"}},
        {"square.grid.3x3", {"view-app-grid", "view-grid"}},
        {"chevron.left", {"go-previous"}},
        {"chevron.right", {"go-next"}},
        {"chevron.down", {"pan-down", "go-down"}},
        {"arrow.counterclockwise", {"edit-undo"}},
    };
    return rows;
}

struct Found {
    QString path;
    bool symbolic = false;
};

// name -> (pixel size -> file), for the sizes the screens draw at.
using Index = QHash<QString, std::map<int, Found>>;

const Index& themeIndex() {
    static const Index index = [] {
        Index out;
        QStringList themes;
        if (!QIcon::themeName().isEmpty()) {
            themes << QIcon::themeName();
        }
        themes << QStringLiteral("Adwaita") << QStringLiteral("hicolor");
        // Qt's own search path holds only its resources on the offscreen platform; the XDG data
        // folders are where themes are installed.
        QStringList bases = QIcon::themeSearchPaths();
        bases << QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                           QStandardPaths::LocateDirectory);
        bases.removeDuplicates();
        for (const QString& base : bases) {
            for (const QString& theme : themes) {
                for (const int size : {16, 24, 32, 48}) {
                    const QString folder = QStringLiteral("%1/%2/%3x%3").arg(base, theme).arg(size);
                    if (!QDir(folder).exists()) {
                        continue;
                    }
                    QDirIterator it(folder, {QStringLiteral("*.png")}, QDir::Files,
                                    QDirIterator::Subdirectories);
                    while (it.hasNext()) {
                        const QString path = it.next();
                        QString name = it.fileName();
                        name.chop(4);
                        bool symbolic = false;
                        if (name.endsWith(QLatin1String("-symbolic.symbolic"))) {
                            name.chop(int(std::string_view("-symbolic.symbolic").size()));
                            symbolic = true;
                        }
                        auto& sizes = out[name];
                        // The first theme that has the size wins, except that a full-colour icon
                        // wins over a monochrome one.
                        if (!sizes.contains(size) || (sizes[size].symbolic && !symbolic)) {
                            sizes[size] = {path, symbolic};
                        }
                    }
                }
            }
        }
        return out;
    }();
    return index;
}

QPixmap tinted(const QString& path, const QColor& colour) {
    QPixmap pixmap(path);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), colour);
    return pixmap;
}

// A rounded badge with the key's first letter: plain, but legible in both colour schemes.
QIcon drawn(std::string_view key, const QPalette& palette) {
    QIcon icon;
    const QChar letter = key.empty() ? QChar('?') : QChar(key.front()).toUpper();
    for (const int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette.color(QPalette::WindowText);
        fill.setAlphaF(0.75);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size * 0.25, size * 0.25);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(int(size * 0.6));
        painter.setFont(font);
        painter.setPen(palette.color(QPalette::Window));
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QString(letter));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon load(std::string_view key, const QPalette& palette);

} // namespace

QIcon symbol(std::string_view key, const QPalette& palette) {
    // Views ask for icons on every paint; each key and text colour is loaded once.
    static QHash<QString, QIcon> cache;
    const QString cacheKey = QString::fromUtf8(key.data(), qsizetype(key.size())) + QLatin1Char('|') +
                             palette.color(QPalette::WindowText).name();
    if (const auto found = cache.constFind(cacheKey); found != cache.constEnd()) {
        return *found;
    }
    QIcon icon = load(key, palette);
    cache.insert(cacheKey, icon);
    return icon;
}

namespace {

QIcon load(std::string_view key, const QPalette& palette) {
    const auto& index = themeIndex();
    for (const auto& row : table()) {
        if (row.key != key) {
            continue;
        }
        for (const QString& name : row.names) {
            const auto found = index.constFind(name);
            if (found == index.constEnd()) {
                continue;
            }
            QIcon icon;
            for (const auto& [size, file] : *found) {
                icon.addPixmap(file.symbolic ? tinted(file.path, palette.color(QPalette::WindowText))
                                             : QPixmap(file.path));
            }
            return icon;
        }
    }
    return drawn(key, palette);
}

} // namespace

void preloadCategories(const QPalette& palette) {
    for (const CategoryKind kind : CategoryKinds::allCases()) {
        (void)symbol(CategoryKinds::symbol(kind), palette);
    }
}

QIcon application() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r(size * 0.06, size * 0.06, size * 0.88, size * 0.88);
        QLinearGradient gradient(r.topLeft(), r.bottomLeft());
        gradient.setColorAt(0, QColor::fromRgbF(0.2, 0.62, 0.98));
        gradient.setColorAt(1, QColor::fromRgbF(0.043, 0.40, 0.80));
        painter.setPen(Qt::NoPen);
        painter.setBrush(gradient);
        painter.drawRoundedRect(r, size * 0.2, size * 0.2);
        // Three sweeping strokes: wind carrying things away.
        QPen pen(Qt::white, std::max(1.5, size * 0.07), Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        for (int i = 0; i < 3; ++i) {
            const double y = size * (0.34 + 0.16 * i);
            QPainterPath path;
            path.moveTo(size * (0.24 + 0.06 * i), y);
            path.cubicTo(size * 0.5, y - size * 0.08, size * 0.62, y + size * 0.06, size * (0.78 - 0.08 * i),
                         y);
            painter.drawPath(path);
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace Icons
