// The recent-files history on its own, without a window: its list, its
// settings file in a folder of the test's own, and the menu it builds.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

#include "RecentFiles.h"
#include "SettingsIni.h"
#include "WindowTestSupport.h"

class TRecentFilesTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<QWidget> FParent;

    QString SettingsFile() const { return FDir->filePath(QStringLiteral("Velthane/Korvalin/settings.ini")); }
    QString Existing(const QString& name) const {
        const QString path = FDir->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        return path;
    }
    QString Missing(const QString& name) const { return FDir->filePath(name); }
    std::unique_ptr<TRecentFiles> Make() const { return std::make_unique<TRecentFiles>(SettingsFile(), FParent.get()); }
    static QStringList Paths(const TRecentFiles& history) {
        QStringList paths;
        for (int i = 0; i < history.Entries().size(); ++i) paths << history.Path(i);
        return paths;
    }

private slots:
    void init() {
        FDir = std::make_unique<QTemporaryDir>();
        FParent = std::make_unique<QWidget>();
    }
    void cleanup() {
        FParent.reset();
        FDir.reset();
    }

    void addingKeepsOneEntryPerFileNewestFirst() {
        const auto history = Make();
        history->Add(Missing(QStringLiteral("a.mid")), true);
        history->Add(Missing(QStringLiteral("b.mid")), false);
        // The same file in other ASCII case is the same entry, and keeps its saved mark.
        history->Add(Missing(QStringLiteral("A.MID")), false);
        QCOMPARE(Paths(*history), QStringList({Missing(QStringLiteral("A.MID")), Missing(QStringLiteral("b.mid"))}));
        QVERIFY(history->Saved(0));
        QVERIFY(!history->Saved(1));
        history->Add(QString(), true);
        QCOMPARE(history->Entries().size(), 2);
    }

    void theListIsLimitedAndOutOfRangeIndicesAnswerNothing() {
        const auto history = Make();
        for (int i = 0; i <= korvalin::MaxRecentFiles; ++i)
            history->Add(Missing(QStringLiteral("f%1.mid").arg(i)), false);
        QCOMPARE(history->Entries().size(), korvalin::MaxRecentFiles);
        QCOMPARE(history->Path(0), Missing(QStringLiteral("f%1.mid").arg(korvalin::MaxRecentFiles)));
        QCOMPARE(history->Path(-1), QString());
        QCOMPARE(history->Path(korvalin::MaxRecentFiles), QString());
        QVERIFY(!history->Saved(korvalin::MaxRecentFiles));
    }

    void everyChangeIsStoredAndReadBack() {
        const QString a = Existing(QStringLiteral("a.mid"));
        const QString gone = Missing(QStringLiteral("gone.mid"));
        {
            const auto history = Make();
            history->Add(a, false);
            history->Add(gone, true);
        }
        const auto reread = Make();
        reread->Load();
        QCOMPARE(reread->Entries(), QStringList({QStringLiteral("S\t") + gone, QStringLiteral("O\t") + a}));

        reread->RemoveUnavailable();
        const auto afterRemove = Make();
        afterRemove->Load();
        QCOMPARE(Paths(*afterRemove), QStringList{a});

        afterRemove->Clear();
        const auto afterClear = Make();
        afterClear->Load();
        QVERIFY(afterClear->Entries().isEmpty());
    }

    void aSettingsFileThatCannotBeWrittenKeepsTheListInMemory() {
        // A file where the settings folder should be: nothing can be stored.
        QFile blocker(FDir->filePath(QStringLiteral("Velthane")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const auto history = Make();
        history->Add(Missing(QStringLiteral("a.mid")), false);
        QCOMPARE(Paths(*history), QStringList{Missing(QStringLiteral("a.mid"))});
        history->Load();
        QVERIFY(history->Entries().isEmpty());
    }

    void theMenuOffersOnlyWhatCanBeDone() {
        const auto history = Make();
        history->BuildMenu(false);
        QList<QAction*> actions = history->Menu()->actions();
        QCOMPARE(actions.size(), 4);  // the empty line, a separator, the two commands
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(!actions[2]->isEnabled());
        QVERIFY(!actions[3]->isEnabled());

        const QString present = Existing(QStringLiteral("present.mid"));
        history->Add(Missing(QStringLiteral("gone.mid")), false);
        history->Add(present, false);
        history->BuildMenu(true);
        actions = history->Menu()->actions();
        QCOMPARE(actions.size(), 5);
        QVERIFY(actions[0]->isEnabled());
        QVERIFY(!actions[1]->isEnabled());
        QCOMPARE(actions[3]->text(), QStringLiteral("Remove unavailable"));
        QVERIFY(actions[3]->isEnabled());
        QVERIFY(actions[4]->isEnabled());
    }

    void aChosenItemNamesTheFileItShowsWhileItIsThere() {
        const auto history = Make();
        const QString a = Existing(QStringLiteral("a.mid"));
        const QString b = Existing(QStringLiteral("b.mid"));
        history->Add(a, false);
        history->BuildMenu(false);
        QAction* item = history->Menu()->actions().at(0);
        QSignalSpy chosen(history.get(), &TRecentFiles::ItemChosen);
        item->trigger();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(history->ChosenFile(item), a);

        // The list changed under the open menu: the item still means its own file.
        history->Add(b, false);
        QCOMPARE(history->ChosenFile(item), a);
        QVERIFY(QFile::remove(a));
        QCOMPARE(history->ChosenFile(item), QString());
    }

    void theCommandsAreReportedNotCarriedOut() {
        const auto history = Make();
        history->Add(Missing(QStringLiteral("gone.mid")), false);
        history->BuildMenu(false);
        QSignalSpy remove(history.get(), &TRecentFiles::RemoveUnavailableChosen);
        QSignalSpy clear(history.get(), &TRecentFiles::ClearChosen);
        const QList<QAction*> actions = history->Menu()->actions();
        actions[2]->trigger();
        actions[3]->trigger();
        QCOMPARE(remove.size(), 1);
        QCOMPARE(clear.size(), 1);
        // The window decides: asking first before a clear is its business.
        QCOMPARE(history->Entries().size(), 1);
    }
};

KORVALIN_WINDOW_TEST_MAIN(TRecentFilesTest)
#include "RecentFilesTest.moc"
