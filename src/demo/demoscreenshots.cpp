#include "demo/demoscreenshots.h"

#include "session/zantrystate.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

DemoScreenshots::DemoScreenshots(const QString &dir) : m_dir(dir)
{
    QDir().mkpath(m_dir);
}

QString DemoScreenshots::stageName(quint32 before, quint32 after)
{
    const quint32 added = after & ~before;
    const quint32 dropped = before & ~after;
    QString name = QString::fromLatin1(Zantry::stateNames(added ? added : dropped)).toLower();
    name.replace(QLatin1Char('_'), QLatin1Char('-')).replace(QLatin1Char('|'), QLatin1Char('+'));
    if (name.isEmpty())
        return QStringLiteral("unchanged");
    return added ? name : QStringLiteral("without-") + name;
}

bool DemoScreenshots::capture(const QString &stage, QWidget *mainWindow)
{
    // The main window first, the dialogs over it.
    QList<QWidget *> shown;
    if (mainWindow && mainWindow->isVisible())
        shown << mainWindow;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w != mainWindow && w->isVisible() && !w->geometry().isEmpty())
            shown << w;
    }
    if (shown.isEmpty())
        return false;
    QRect area;
    for (QWidget *w : qAsConst(shown))
        area |= w->frameGeometry();
    QPixmap picture(area.size());
    picture.fill(QColor(0x10, 0x12, 0x16));
    {
        QPainter painter(&picture);
        for (QWidget *w : qAsConst(shown))
            painter.drawPixmap(w->frameGeometry().topLeft() - area.topLeft(), w->grab());
    }
    const QString file = QDir(m_dir).filePath(QStringLiteral("%1-%2.png").arg(++m_count, 2, 10, QLatin1Char('0')).arg(stage));
    const bool saved = picture.save(file);
    if (!saved)
        qDebug().noquote() << "Demo: could not save " + file;
    return saved;
}
