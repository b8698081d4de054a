#pragma once

#include "app/FrmMultiBuf.h"
#include "tests/support/FakeDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

/// A window on a scripted card; fatal errors are recorded instead of ending the run.
struct Window {
    FakeDriver card;
    QStringList fatals;
    std::unique_ptr<FrmMultiBuf> form;

    explicit Window(std::vector<std::uint8_t> name = {'S', 'i', 'm', 0}) {
        card.nameBytes = std::move(name);
        form = std::make_unique<FrmMultiBuf>(card, [this](const QString& m) { fatals << m; });
    }
    template <typename T = QWidget> T* get(const char* name) const {
        auto* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* name) const {
        if (auto* l = form->findChild<QLabel*>(QString::fromLatin1(name)))
            return l->text();
        if (auto* e = form->findChild<QLineEdit*>(QString::fromLatin1(name)))
            return e->text();
        if (auto* b = form->findChild<QAbstractButton*>(QString::fromLatin1(name)))
            return b->text();
        if (auto* g = form->findChild<QGroupBox*>(QString::fromLatin1(name)))
            return g->title();
        ADD_FAILURE() << "no control " << name;
        return {};
    }
    void click(const char* name) const {
        QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton);
    }
    /// One tick that finds `count` 500-scan blocks ready, each carrying code
    /// 1000 + ch on every channel ch.
    void tickFlatBlocks(int count) {
        for (int b = 0; b < count; ++b)
            card.blocks.push_back(makeBlock(
                500, 17, [](int, int ch) { return static_cast<std::int16_t>(1000 + ch); }));
        card.queryAnswers = {count};
        form->TimerAD_Timer();
    }
    /// A stopped acquisition that saves into `folder`: one flat block drained.
    void stopAfterOneFlatBlock(const QString& folder) {
        form->setSaveFolder(folder);
        click("cmdStart");
        tickFlatBlocks(1);
        click("cmdStop");
    }
    void show() const {
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
};
