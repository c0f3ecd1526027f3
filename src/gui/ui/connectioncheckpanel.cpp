#include "ui/connectioncheckpanel.h"

#include "net/portmapper.h"
#include "util/settings.h"
#include "session/zantrystate.h"

#include <QCheckBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

ConnectionCheckPanel::ConnectionCheckPanel(PortMapper *mapper, QWidget *parent)
    : QWidget(parent)
    , m_mapper(mapper)
    , m_check(new ConnectionCheck(this))
    , m_button(new QPushButton(tr("Check connection")))
    , m_mapSetting(new QCheckBox(tr("Map a port on my router")))
    , m_mapping(new QLabel)
    , m_verdict(new QLabel(tr("Check the connection before you queue: the service, the tunnel servers and your router.")))
    , m_table(new QTableWidget(0, 3))
{
    setObjectName(QStringLiteral("connectionCheckPanel"));
    m_button->setObjectName(QStringLiteral("checkConnectionButton"));
    m_button->setMinimumSize(160, 32);
    // The window's buttons are tall; this one shares its row with a box.
    m_button->setStyleSheet(QStringLiteral("padding: 4px 12px;"));
    m_mapSetting->setObjectName(QStringLiteral("mapPortCheck"));
    m_mapSetting->setToolTip(tr("Asks the router (UPnP-IGD or NAT-PMP) to forward a port, so other players reach you "
                                "directly. Takes effect at the next start."));
    m_mapSetting->setChecked(Settings::mapPortOnRouter());
    connect(m_mapSetting, &QCheckBox::toggled, this,
            [](bool on) { Settings::setMapPortOnRouter(on); });
    m_mapping->setObjectName(QStringLiteral("portMappingLabel"));
    m_mapping->setWordWrap(true);
    m_verdict->setObjectName(QStringLiteral("checkVerdict"));
    m_verdict->setWordWrap(true);
    m_table->setObjectName(QStringLiteral("checkTable"));
    m_table->setHorizontalHeaderLabels({tr("Check"), tr("Found"), tr("What helps")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setWordWrap(true);
    // Long findings wrap rather than push the advice out of sight.
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->hide();

    auto *row = new QHBoxLayout;
    row->addWidget(m_button);
    row->addWidget(m_mapSetting);
    row->addStretch(1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 6, 0, 0);
    layout->addLayout(row);
    layout->addWidget(m_mapping);
    layout->addWidget(m_verdict);
    layout->addWidget(m_table, 1);

    connect(m_button, &QPushButton::clicked, this, &ConnectionCheckPanel::startCheck);
    connect(m_check, &ConnectionCheck::finished, this, [this](ConnectionReport report) {
        if (m_mapper && m_mapper->mapping().isActive())
            report.mapping = m_mapper->mapping().text();
        else if (m_mapper)
            report.mappingNote = m_mapper->stateText();
        qInfo().noquote() << QStringLiteral("Connection check:\n") + report.table();
        showReport(report);
    });
    if (m_mapper)
        connect(m_mapper, &PortMapper::mappingChanged, this, &ConnectionCheckPanel::showMapping);
    if (m_mapper)
        connect(m_mapper, &PortMapper::finished, this, &ConnectionCheckPanel::showMapping);
    showMapping();
    setSessionState(0);
}

void ConnectionCheckPanel::setSessionState(quint32 state)
{
    using namespace Zantry;
    const quint32 busy = MAIN_BUTTON_CLICKED | MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND | NETWORK_FIND_STARTED
                         | NETWORK_PERF_STARTED | NETWORK_READY | GAME_SPAWNED;
    m_ready = (state & READY_TO_QUEUE) == READY_TO_QUEUE && !(state & busy);
    m_button->setEnabled(m_ready && !m_check->isRunning());
    m_button->setToolTip(m_ready ? QString() : tr("Only while ready: not while queued or in a match."));
}

void ConnectionCheckPanel::startCheck()
{
    if (!m_ready || m_check->isRunning())
        return;
    m_button->setEnabled(false);
    m_verdict->setText(tr("Checking (about 5 s) ..."));
    m_check->start();
}

void ConnectionCheckPanel::showMapping()
{
    QString text = tr("Port mapping: off (\"Map a port on my router\").");
    if (m_mapper && m_mapper->mapping().isActive())
        text = tr("Port mapping: %1. Other players reach you there.").arg(m_mapper->mapping().text());
    else if (m_mapper && Settings::mapPortOnRouter())
        text = tr("Port mapping: %1.").arg(m_mapper->stateText());
    m_mapping->setText(text);
    m_mapping->setVisible(m_mapper != nullptr);
}

void ConnectionCheckPanel::showReport(const ConnectionReport &report)
{
    m_verdict->setText(report.verdict());
    const QList<QStringList> rows = report.rows();
    m_table->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 3; ++c)
            m_table->setItem(r, c, new QTableWidgetItem(rows[r].value(c)));
    m_table->resizeRowsToContents();
    m_table->show();
    m_button->setEnabled(m_ready);
}
