#pragma once
#include <QWidget>

class OvController;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

// Base of the list pages: a column of buttons (or a chooser) and a content
// area showing the page the last choice opened.
class OvPanelW : public QWidget {
    Q_OBJECT

public:
    explicit OvPanelW(OvController *controller, QWidget *parent = nullptr);

    // Deletes the widget shown in the content area and shows page there.
    virtual void setContent(QWidget *page);
    QWidget *content() const;
    OvController *controller() const { return m_controller; }

protected:
    // Adds a button (never the dialog's default) to the column on the left.
    QPushButton *addButton(const QString &text, const char *objectName);
    // Lays out the column and the content area side by side.
    void finishColumn();

    OvController *m_controller;
    QScrollArea *m_area;
    QVBoxLayout *m_column = nullptr;
};
