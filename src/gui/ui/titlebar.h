#pragma once

#include <QPoint>
#include <QWidget>

namespace Ui {
class TitleBar;
}

// The title bar of every frameless window: icon, title, minimise and close.
// Dragging it moves its window, and a modal window's parent along with it.
class TitleBar : public QWidget
{
    Q_OBJECT
public:
    explicit TitleBar(QWidget *parent = nullptr);
    ~TitleBar() override;

    void setMinimizeVisible(bool visible);
    void hideCloseButton();
    void disableCloseButton();

signals:
    void closeButtonClicked();
    void minimizeClicked();

private slots:
    void on_closeButton_clicked();
    void on_minimizeButton_clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *draggedParent() const;

    Ui::TitleBar *ui;
    QPoint m_windowOffset;
    QPoint m_parentOffset;
};
