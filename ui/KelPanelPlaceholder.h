#pragma once
#include <QDialog>

// Stands in for the control panel until it is built: a window saying so.
class KelPanelPlaceholder : public QDialog {
    Q_OBJECT

public:
    explicit KelPanelPlaceholder(QWidget *parent = nullptr);
};
