// A rounded panel that groups one topic of a pane; its colours follow the palette.
#pragma once

#include <QFrame>

class Card : public QFrame {
    Q_OBJECT

public:
    enum class Tone { plain, warning };
    explicit Card(QWidget* parent = nullptr, Tone tone = Tone::plain);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone tone;
};
