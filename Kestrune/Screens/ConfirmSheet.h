// A short question with two answers, shown in the sheet overlay (Empty Trash, closing during a reclaim).
#pragma once

#include <QWidget>

class QPushButton;

class ConfirmSheet : public QWidget {
    Q_OBJECT

public:
    ConfirmSheet(const QString& title, const QString& message, const QString& confirmText,
                 const QString& cancelText, QWidget* parent = nullptr);
    [[nodiscard]] QPushButton* confirmButton() const { return confirm; }
    [[nodiscard]] QPushButton* cancelButton() const { return cancel; }

signals:
    void confirmed();
    void cancelled();

private:
    QPushButton* confirm;
    QPushButton* cancel;
};
