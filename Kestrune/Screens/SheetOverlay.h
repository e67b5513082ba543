// A sheet shown over the window: a dimming layer that covers its host, and one sheet widget centred
// on it. A click on the dimming layer or Escape asks for the sheet to be dismissed; nothing here runs
// an event loop of its own.
#pragma once

#include <QPointer>
#include <QWidget>

class SheetOverlay : public QWidget {
    Q_OBJECT

public:
    explicit SheetOverlay(QWidget* host);

    // Shows `sheet` (the overlay takes it over), replacing any sheet shown before.
    void present(QWidget* sheet);
    // Hides the overlay and deletes the sheet.
    void close();
    [[nodiscard]] QWidget* sheet() const { return current; }
    [[nodiscard]] bool isPresenting() const { return current != nullptr; }

signals:
    // The user clicked outside the sheet or pressed Escape.
    void dismissRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeSheet();

    QPointer<QWidget> current;
};
