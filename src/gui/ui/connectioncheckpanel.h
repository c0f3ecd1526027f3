#pragma once

#include "net/connectioncheck.h"

#include <QWidget>

class PortMapper;
class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

// The Connection tab's check before queueing: a button (only while ready),
// the verdict in plain words, a table of findings with what usually helps,
// the port mapping in force and the setting that asks for one.
class ConnectionCheckPanel : public QWidget
{
    Q_OBJECT
public:
    explicit ConnectionCheckPanel(PortMapper *mapper, QWidget *parent = nullptr);

    // The session's flag set: the check runs only at ready, never while
    // queued or in a match.
    void setSessionState(quint32 state);
    // Shows a report as the check would (the screenshots use it too).
    void showReport(const ConnectionReport &report);

private:
    void startCheck();
    void showMapping();

    PortMapper *m_mapper;
    ConnectionCheck *m_check;
    QPushButton *m_button;
    QCheckBox *m_mapSetting;
    QLabel *m_mapping;
    QLabel *m_verdict;
    QTableWidget *m_table;
    bool m_ready = false;
};
