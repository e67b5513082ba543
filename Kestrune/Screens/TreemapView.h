// The disk map's tiles: one per child of the folder on screen, laid out by Treemap::layout, painted once
// into a cached pixmap; the pointer and the keyboard move over the cached tiles. GUI thread only.
#pragma once

#include "Kestrune/Engines/TreemapEngine.h"
#include "KestruneCore/Model/ReclaimIndex.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

class TreemapView : public QWidget {
    Q_OBJECT

public:
    struct Tile {
        TreemapEngine::Node node;
        QRectF rect; // the layout's rectangle at the size the cache was made for
        ReclaimIndex::Flagged flagged;
        bool canDrill = false;
    };
    // How much text a tile of this size carries: 0 none, 1 the name, 2 the name and the size.
    [[nodiscard]] static int labelLines(QSizeF size);
    [[nodiscard]] static QString tooltip(const DiskNode& node, ReclaimIndex::Flagged flagged, bool canDrill);
    // The bands painted from the tile's bottom edge: safe, then review above it.
    [[nodiscard]] static std::pair<double, double> bandHeights(const Tile& tile);

    explicit TreemapView(QWidget* parent = nullptr);

    // A new folder, or new scan results: flags and layout are computed here, once, not in a paint.
    void setFolder(TreemapEngine::Node folder, std::shared_ptr<const ReclaimIndex> index);
    [[nodiscard]] const TreemapEngine::Node& folder() const { return shown; }
    [[nodiscard]] const std::shared_ptr<const ReclaimIndex>& flagIndex() const { return index; }

    [[nodiscard]] const std::vector<Tile>& tiles() const { return cached; }
    // A tile's rectangle in widget coordinates (the cache may be a resize behind the widget).
    [[nodiscard]] QRectF tileRect(int index) const;
    [[nodiscard]] int tileAt(QPointF point) const;
    [[nodiscard]] int hoveredTile() const { return hovered; }
    [[nodiscard]] int focusedTile() const { return focused; }
    [[nodiscard]] TreemapEngine::Node focusedNode() const;
    void setFocusedTile(int index);
    // "Name, size": what a screen reader reads for the tile.
    [[nodiscard]] QString accessibleTileName(int index) const;
    // Redoes the layout at the widget's size now, as the debounced resize would.
    void relayoutNow();

signals:
    void drillRequested(const TreemapEngine::Node& node);
    void revealRequested(const QString& path);
    void upRequested();
    void contextMenuRequested(const QPoint& globalPos);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void relayout();
    void paintCache();
    void activate(int index);
    void setHovered(int index);
    [[nodiscard]] int neighbour(int from, int key) const;
    [[nodiscard]] QTransform toWidget() const;

    TreemapEngine::Node shown;
    std::shared_ptr<const ReclaimIndex> index;
    std::vector<Tile> cached;
    QSize cachedSize;
    QPixmap pixmap;
    QTimer resizeDebounce;
    int hovered = -1;
    int focused = -1;
};
