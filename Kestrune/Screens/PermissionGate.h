// Shown instead of the window's content while the program may not read the user's protected folders.
// Checks again when the application becomes active or the user asks; there is no polling.
#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

class PermissionGate : public QWidget {
    Q_OBJECT

public:
    // `check` answers whether access is granted (the platform's check, or a test's).
    PermissionGate(std::function<bool()> check, QWidget* parent = nullptr);

    void recheck();
    [[nodiscard]] bool isHintShown() const;
    [[nodiscard]] QPushButton* checkAgainButton() const { return checkAgain; }
    [[nodiscard]] QPushButton* openSettingsButton() const { return openSettings; }

signals:
    // The result of every check.
    void checked(bool granted);

private:
    std::function<bool()> check;
    QPushButton* openSettings;
    QPushButton* checkAgain;
    QLabel* hint;
    bool checking = false;
};
