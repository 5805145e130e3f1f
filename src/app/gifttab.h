#pragma once

#include "app/harvestcontroller.h"
#include "app/runlocks.h"
#include "giftlist/giftentry.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class Desktop;
class GiftListModel;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTreeView;
namespace controls {
class ClickLabel;
}

// What a tab needs from the window.
struct TabContext {
    HarvestContext harvests;
    Desktop &desktop;
    QWidget *tabControl; // SSTab1: the "直接获取" buttons lock it, runs give it back
};

// One tab of the main window: its gift list, its page chooser and harvest buttons, its search
// panel and the commands on its rows. Its harvests are its HarvestController's.
class GiftTab final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GiftTab)

public:
    GiftTab(TabId id, TabContext context, QWidget *parent);
    ~GiftTab() override;

    TabId id() const { return m_id; }
    GiftListModel &list() const { return *m_model; }
    QTreeView *view() const { return m_list; }
    int pageNumber() const { return m_page; }
    // Sets the page as start-up does; pageChanged() is for the user's own changes.
    void setPageNumber(int page) { m_page = page; }
    HarvestController &harvests() const { return *m_harvests; }
    bool isHarvesting() const { return m_harvests->isHarvesting(); }
    // A listing-site run of this tab is resolving gift codes.
    bool isResolving() const { return m_harvests->isResolving(); }

    // The selected row (the current one where several are selected); an empty entry when none
    // is selected.
    GiftEntry selectedEntry() const;

    // Commands on the selected row and on the whole list.
    void copySelected();
    // Ctrl+C: the codes of every selected row, in list order, one a line.
    void copySelectedRows();
    void openSelected();
    void hideSelectedRow();
    void exportList();

Q_SIGNALS:
    void statusText(const QString &text);
    void logLine(const QString &message);
    // The user ticked or cleared a row.
    void checkToggled();
    // A double-click on the list: on a row (now selected), or on blank space.
    void receiveRequested(bool onRow);
    void menuRequested(const QPoint &globalPos);
    // "上一页" of the third tab.
    void signInRequested();
    // The user's command changed the tab's page (LibaoPage, SharePage or TiqumaPage).
    void pageChanged(int page);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildList();
    void buildSearchPanel();
    void buildPageControls();
    void info(const QString &text, const QString &title = QStringLiteral("Corvane系列软件"));

    void fetchChosenPage();
    void fetchNextPage();
    void fetchPreviousPage();
    void search();
    bool keywordAccepted(const QString &keyword);
    void startPageRun(bool lockTabControl);
    void startRun(const RunRequest &request, bool lockTabControl);
    void runEnded(const RunRequest &request, HarvestRun::End end);
    void changePage(int page);
    void setControlsEnabled(TabControls controls, bool enabled);
    int selectedRow() const;

    const TabId m_id;
    TabContext m_context;
    GiftListModel *m_model;
    HarvestController *m_harvests;
    int m_page;

    QTreeView *m_list = nullptr;
    QPushButton *m_hiddenStart = nullptr; // "开始获取", under the list
    QLabel *m_notice = nullptr;           // the notice's text, under the list (first tab)
    QLabel *m_prompt = nullptr;
    QLineEdit *m_keyword = nullptr;
    QPushButton *m_search = nullptr;
    controls::ClickLabel *m_help = nullptr;
    QPushButton *m_next = nullptr;
    QPushButton *m_previous = nullptr;
    QPushButton *m_export = nullptr;
    QLabel *m_pageLabel = nullptr;
    QPushButton *m_fetch = nullptr;
    QSlider *m_slider = nullptr;
    QProgressBar *m_progress = nullptr;
    QTimer *m_scroll = nullptr;
};
