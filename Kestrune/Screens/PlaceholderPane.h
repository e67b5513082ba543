// Stands in for a pane that is not part of this version: says so, and shows nothing else.
#pragma once

#include <QWidget>

class PlaceholderPane : public QWidget {
    Q_OBJECT

public:
    PlaceholderPane(const QString& title, QWidget* parent = nullptr);
};
