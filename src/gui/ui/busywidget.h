#pragma once

#include <QDialog>

namespace Ui {
class BusyWidget;
}
class QMovie;
class TitleBar;

// The overlay that shows what Zantry is doing while the user waits.
class BusyWidget : public QDialog
{
    Q_OBJECT
public:
    explicit BusyWidget(QWidget *parent = nullptr);
    ~BusyWidget() override;

    void setMovie(QMovie *movie);
    QString text() const;
    TitleBar *titleBar() const { return m_titleBar; }

public slots:
    void on_cancelButton_clicked();
    void slotMinimizedClicked();
    void setText(const QString &text);

signals:
    void cancelClicked();
    void minimizeClicked();

private:
    Ui::BusyWidget *ui;
    TitleBar *m_titleBar;
};
