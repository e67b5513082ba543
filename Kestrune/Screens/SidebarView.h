// The left column: the sidebar model in a list, drawn with trailing figures. Selecting a row picks a pane.
#pragma once

#include "Kestrune/Screens/Pane.h"

#include <QListView>

class SidebarModel;

class SidebarView : public QListView {
    Q_OBJECT

public:
    SidebarView(SidebarModel& model, QWidget* parent = nullptr);

    // Selects the pane's row without announcing it; a pane without a row (a category that a scan no
    // longer finds) leaves no row selected.
    void setPane(const Pane& pane);
    [[nodiscard]] const Pane& pane() const { return current; }

signals:
    void paneSelected(const Pane& pane);

private:
    void reselect();

    SidebarModel& model;
    Pane current;
    bool applying = false;
};
