// SPDX-License-Identifier: GPL-3.0-or-later
// The window's two languages: which one a setting and the locale choose,
// the English translation file itself, the window and its dialogs built in
// English (every text translated, none cut short or run into its field),
// the Chinese window left as its layout gives it, and the about box's switch.
#include "settings/Settings.h"
#include "support/BmpBuilder.h"
#include "support/Files.h"
#include "ui/DialogService.h"
#include "ui/Language.h"
#include "ui/URtcFrmMain.h"
#include "ui/untAbout.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QXmlStreamReader>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace {

using namespace rastrace;
using namespace rastrace::ui;

const QString kTranslations = QStringLiteral(RASTRACE_TRANSLATIONS_DIR);

// CJK signs, punctuation and ideographs, and the full-width forms.
bool hasChinese(const QString& text) {
    static const QRegularExpression chinese(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(chinese);
}

// ---- Which language -------------------------------------------------------

struct ChoiceCase {
    const char* name;
    const char* setting;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    WindowLanguage expected;
};

class LanguageChoice : public testing::TestWithParam<ChoiceCase> {};

TEST_P(LanguageChoice, FollowsTheSettingThenTheLocale) {
    const ChoiceCase& c = GetParam();
    EXPECT_EQ(ChooseWindowLanguage(c.setting, c.lcAll, c.lcMessages, c.lang), c.expected);
}

constexpr WindowLanguage zh = WindowLanguage::Chinese;
constexpr WindowLanguage en = WindowLanguage::English;

INSTANTIATE_TEST_SUITE_P(
    Cases, LanguageChoice,
    testing::Values(ChoiceCase{"NothingSet", "", nullptr, nullptr, nullptr, zh},
                    ChoiceCase{"AllEmpty", "", "", "", "", zh},
                    ChoiceCase{"CLocale", "", nullptr, nullptr, "C", zh},
                    ChoiceCase{"Posix", "", nullptr, nullptr, "POSIX", zh},
                    ChoiceCase{"CUtf8", "", nullptr, nullptr, "C.UTF-8", zh},
                    ChoiceCase{"Chinese", "", nullptr, nullptr, "zh_CN.UTF-8", zh},
                    ChoiceCase{"ChineseTaiwan", "", nullptr, nullptr, "zh_TW", zh},
                    ChoiceCase{"ChineseBare", "", nullptr, nullptr, "zh", zh},
                    ChoiceCase{"English", "", nullptr, nullptr, "en_US.UTF-8", en},
                    ChoiceCase{"German", "", nullptr, nullptr, "de_DE.UTF-8", en},
                    ChoiceCase{"NotChineseThoughZ", "", nullptr, nullptr, "zu_ZA", en},
                    ChoiceCase{"LcAllWins", "", "en_GB.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", en},
                    ChoiceCase{"LcMessagesBeforeLang", "", nullptr, "C", "en_US.UTF-8", zh},
                    ChoiceCase{"EmptyLcAllIsUnset", "", "", nullptr, "en_US.UTF-8", en},
                    ChoiceCase{"SettingEnglish", "en", nullptr, nullptr, "zh_CN.UTF-8", en},
                    ChoiceCase{"SettingEnglishCapitals", "EN", nullptr, nullptr, "C", en},
                    ChoiceCase{"SettingChinese", "zh", "en_US.UTF-8", nullptr, nullptr, zh},
                    ChoiceCase{"UnknownSettingLeavesTheLocale", "fr", nullptr, nullptr, "en_US.UTF-8", en},
                    ChoiceCase{"UnknownSettingUnderC", "english", nullptr, nullptr, "C", zh}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The translation file -------------------------------------------------

struct TsMessage {
    QString context, source, translation, type;
};

std::vector<TsMessage> readTs(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    std::vector<TsMessage> messages;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QStringLiteral("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QStringLiteral("message")) {
            messages.push_back({context, {}, {}, {}});
        } else if (xml.name() == QStringLiteral("source") && !messages.empty()) {
            messages.back().source = xml.readElementText();
        } else if (xml.name() == QStringLiteral("translation") && !messages.empty()) {
            messages.back().type = xml.attributes().value(QStringLiteral("type")).toString();
            messages.back().translation = xml.readElementText();
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return messages;
}

TEST(TranslationFile, EveryTextHasAFinishedEnglishTranslation) {
    const std::vector<TsMessage> messages = readTs(QStringLiteral(RASTRACE_TS_FILE));
    ASSERT_GE(messages.size(), 70u);  // the window's, the panel's and the about box's texts
    for (const TsMessage& m : messages) {
        const std::string where = (m.context + u'|' + m.source).toStdString();
        EXPECT_TRUE(m.type.isEmpty()) << where << " is " << m.type.toStdString();
        EXPECT_FALSE(m.translation.trimmed().isEmpty()) << where;
        EXPECT_FALSE(hasChinese(m.translation)) << where << " -> " << m.translation.toStdString();
    }
}

// ---- The window in a language ---------------------------------------------

class FakeDialogs : public DialogService {
public:
    std::optional<FileChoice> openPicture(QWidget*, const QStringList&, const FileChoice&) override {
        if (!openAnswer) return std::nullopt;
        return FileChoice{*std::exchange(openAnswer, std::nullopt), QStringLiteral("Bitmaps (*.bmp)")};
    }
    std::optional<QString> saveFile(QWidget*, const QString&, const QString&, const QString&) override {
        return std::exchange(saveAnswer, std::nullopt);
    }
    void showError(QWidget*, const QString& text) override { errors.append(text); }
    void showNotice(QWidget*, const QString& text, const QString& caption) override {
        notices.append(caption + u'|' + text);
    }
    void execDialog(QDialog& dialog) override {
        if (onDialog) onDialog(dialog);
    }

    std::optional<QString> openAnswer;
    std::optional<QString> saveAnswer;
    QStringList errors;
    QStringList notices;
    std::function<void(QDialog&)> onDialog;
};

// Every text a user reads on widget and its children: titles, texts,
// tooltips and the about box's text field.
QStringList textsOf(const QWidget& widget) {
    QStringList texts{widget.windowTitle()};
    QList<const QWidget*> all{&widget};
    for (const QWidget* child : widget.findChildren<QWidget*>()) all.append(child);
    for (const QWidget* w : all) {
        texts.append(w->toolTip());
        if (auto* label = qobject_cast<const QLabel*>(w)) texts.append(label->text());
        if (auto* button = qobject_cast<const QAbstractButton*>(w)) texts.append(button->text());
        if (auto* group = qobject_cast<const QGroupBox*>(w)) texts.append(group->title());
        if (auto* memo = qobject_cast<const QPlainTextEdit*>(w)) texts.append(memo->toPlainText());
    }
    texts.removeAll(QString());
    return texts;
}

// What a control's text needs across, by the control's own style.
int neededWidth(const QWidget& w) {
    const QFontMetrics metrics = w.fontMetrics();
    if (auto* label = qobject_cast<const QLabel*>(&w)) return metrics.horizontalAdvance(label->text());
    if (auto* radio = qobject_cast<const QRadioButton*>(&w)) return radio->sizeHint().width();
    if (auto* button = qobject_cast<const QAbstractButton*>(&w)) {
        return button->text().isEmpty() ? 0 : metrics.horizontalAdvance(button->text()) + 4;
    }
    if (auto* group = qobject_cast<const QGroupBox*>(&w)) {
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        option.lineWidth = 1;
        const QRect title =
            group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
        return title.right() + 1;
    }
    return 0;
}

// The controls of parent that show a text or take input, with their places.
std::vector<const QWidget*> placedControls(const QWidget& parent) {
    std::vector<const QWidget*> controls;
    for (const QWidget* w : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisibleTo(&parent)) continue;
        if (qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
            qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
            qobject_cast<const QAbstractSpinBox*>(w)) {
            controls.push_back(w);
        }
    }
    return controls;
}

// The least room between a label's text ending in a Latin letter or sign
// and the field after it.
constexpr int kLabelGap = 2;

// No text wider than its control, no two controls of one parent overlapping,
// none reaching past its parent.
void expectLayoutHolds(const QWidget& top) {
    QList<const QWidget*> parents{&top};
    for (const QWidget* child : top.findChildren<QWidget*>()) parents.append(child);
    for (const QWidget* w : parents) {
        const std::string name = w->objectName().toStdString();
        if (w != &top && w->isVisibleTo(&top)) {
            EXPECT_LE(neededWidth(*w), w->width()) << name << " cuts its text short";
        }
        const std::vector<const QWidget*> controls = placedControls(*w);
        for (size_t i = 0; i < controls.size(); ++i) {
            if (qobject_cast<const QGroupBox*>(w) != nullptr || w == &top || w->objectName().startsWith("Panel")) {
                EXPECT_TRUE(w->rect().contains(controls[i]->geometry()))
                    << controls[i]->objectName().toStdString() << " reaches past " << name;
            }
            for (size_t j = 0; j < controls.size(); ++j) {
                if (j == i) continue;
                const QRect a = controls[i]->geometry();
                const QRect b = controls[j]->geometry();
                if (j > i) {
                    EXPECT_FALSE(a.intersects(b)) << controls[i]->objectName().toStdString() << " overlaps "
                                                  << controls[j]->objectName().toStdString();
                }
                // A label's text ends clear of a control right of it on its row.
                if (auto* label = qobject_cast<const QLabel*>(controls[i]);
                    label != nullptr && b.left() >= a.left() && b.top() <= a.bottom() && b.bottom() >= a.top()) {
                    // A full-width colon carries its own space on the right.
                    const int gap = label->text().endsWith(QChar(0xFF1A)) ? 0 : kLabelGap;
                    EXPECT_LE(a.left() + label->fontMetrics().horizontalAdvance(label->text()) + gap, b.left())
                        << controls[i]->objectName().toStdString() << " runs into "
                        << controls[j]->objectName().toStdString();
                }
            }
        }
    }
}

class LanguageTest : public testing::TestWithParam<WindowLanguage> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(applyWindowLanguage(GetParam(), {kTranslations}));
        createWindow();
    }
    void TearDown() override {
        window_.reset();
        applyWindowLanguage(WindowLanguage::Chinese);
    }
    void createWindow() {
        window_ = std::make_unique<TRtcFrmMain>(dialogs_, settingsPath().toStdString());
        window_->handle(&TRtcFrmMain::FormCreate);
        window_->show();
    }
    QString settingsPath() const { return dir_.filePath(QStringLiteral("set.ini")); }
    bool english() const { return GetParam() == WindowLanguage::English; }

    QTemporaryDir dir_;
    FakeDialogs dialogs_;
    std::unique_ptr<TRtcFrmMain> window_;
};

TEST_P(LanguageTest, TheLayoutHoldsInTheWindowAndTheAboutBox) {
    expectLayoutHolds(*window_);
    EXPECT_EQ(window_->size(), QSize(792, 566));
    if (!english()) {
        // The Chinese fields stay where the layout table puts them.
        EXPECT_EQ(window_->cmbbox->geometry(), QRect(56, 32, 105, 20));
        EXPECT_EQ(window_->edtmil->geometry(), QRect(80, 72, 65, 20));
        EXPECT_EQ(window_->matchPanel()->spnTolerance->geometry(), QRect(76, 4, 52, 20));
        EXPECT_EQ(window_->matchPanel()->spnDespeckle->geometry(), QRect(76, 28, 52, 20));
    }
    int shown = 0;
    dialogs_.onDialog = [&](QDialog& dialog) {
        ++shown;
        auto* box = qobject_cast<TAboutBox*>(&dialog);
        ASSERT_NE(box, nullptr);
        expectLayoutHolds(*box);
        EXPECT_EQ(box->size(), QSize(386, 213));
        // Every English line fits the field without wrapping (a few
        // Chinese lines always wrapped by a character or two).
        box->show();
        QApplication::processEvents();
        const int room =
            box->mmoMsg->viewport()->width() - 2 * static_cast<int>(box->mmoMsg->document()->documentMargin());
        for (const QString& line : english() ? TAboutBox::aboutLines() : QStringList()) {
            EXPECT_LE(box->mmoMsg->fontMetrics().horizontalAdvance(line), room) << line.toStdString();
        }
        box->hide();
    };
    window_->ToolButton4->click();
    EXPECT_EQ(shown, 1);
}

TEST_P(LanguageTest, EveryTextIsInTheLanguageShown) {
    TRtcFrmMain& w = *window_;
    const QStringList texts = textsOf(w);
    if (english()) {
        for (const QString& text : texts) EXPECT_FALSE(hasChinese(text)) << text.toStdString();
        EXPECT_EQ(w.ToolButton1->toolTip(), QStringLiteral("Open picture"));
        EXPECT_EQ(w.RadioButton1->text(), QStringLiteral("PCB format"));
        EXPECT_EQ(w.GroupBox2->title(), QStringLiteral("Copper colours"));
        EXPECT_EQ(w.Label2->text(), QStringLiteral("Width (mil):"));
        EXPECT_EQ(w.matchPanel()->GroupBox4->title(), QStringLiteral("Background"));
    } else {
        EXPECT_EQ(w.RadioButton1->text(), QString::fromUtf8("转换成PCB格式"));
        EXPECT_EQ(w.matchPanel()->Label4->text(), QString::fromUtf8("去斑(像素)："));
    }
    // Names, numbers and the layer list read the same in both.
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Rastrace For Win"));
    EXPECT_EQ(w.cmbbox->itemText(0), QStringLiteral("Top  Layer"));
    EXPECT_EQ(w.matchPanel()->btnActual->text(), QStringLiteral("100%"));

    dialogs_.onDialog = [&](QDialog& dialog) {
        auto* box = qobject_cast<TAboutBox*>(&dialog);
        ASSERT_NE(box, nullptr);
        const QStringList lines = box->mmoMsg->toPlainText().split(u'\n');
        EXPECT_EQ(lines.size(), 56);
        EXPECT_TRUE(lines.value(1).contains(QStringLiteral("2.04")));
        // The switch names the other language in that language.
        EXPECT_EQ(box->btnLanguage->text(), english() ? QString::fromUtf8("中文") : QStringLiteral("English"));
        if (english()) {
            EXPECT_EQ(box->windowTitle(), QStringLiteral("About Rastrace"));
            for (const QString& text : textsOf(*box)) {
                if (text != box->btnLanguage->text() && text != box->btnLanguage->toolTip()) {
                    EXPECT_FALSE(hasChinese(text)) << text.toStdString();
                }
            }
        } else {
            EXPECT_EQ(box->windowTitle(), QString::fromUtf8("软件介绍"));
            EXPECT_EQ(lines.value(0), QString::fromUtf8("【Rastrace】位图转PCB铜线工具"));
        }
    };
    window_->ToolButton4->click();

    // A conversion's notice.
    const QString picture = dir_.filePath(QStringLiteral("p.bmp"));
    test::WriteFile(picture.toStdString(), test::Bmp24FromPacked({{0x0000FF, 0}}));
    dialogs_.openAnswer = picture;
    w.ToolButton1->click();
    w.lstCl->addItem(QStringLiteral("255"));
    dialogs_.saveAnswer = dir_.filePath(QStringLiteral("out.PCB"));
    w.ToolButton2->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs_.notices.isEmpty() || !dialogs_.errors.isEmpty(); }, 20000));
    EXPECT_EQ(dialogs_.notices, QStringList{english() ? QStringLiteral("Notice|Conversion complete!")
                                                      : QString::fromUtf8("提示|转换完成！")});
}

TEST_P(LanguageTest, TheAboutBoxSwitchWritesTheChoiceAtOnceAndSaysSoInThatLanguage) {
    window_.reset();
    QFile::remove(settingsPath());
    createWindow();
    dialogs_.onDialog = [](QDialog& dialog) { qobject_cast<TAboutBox*>(&dialog)->btnLanguage->click(); };
    window_->ToolButton4->click();
    const QByteArray chosen = english() ? "zh" : "en";
    EXPECT_EQ(test::ReadBytes(settingsPath().toStdString()), "[CONFIG]\r\nLANGUAGE=" + chosen.toStdString() + "\r\n");
    EXPECT_EQ(dialogs_.notices,
              QStringList{english() ? QString::fromUtf8("提示|下次启动时窗口将显示中文。")
                                    : QStringLiteral("Rastrace|The window will be in English from the next start.")});
    // Still the language it was built in, and the choice is kept at exit.
    EXPECT_EQ(window_->RadioButton2->text(),
              english() ? QStringLiteral("ASC format") : QString::fromUtf8("转换成ASC格式"));
    window_.reset();
    EXPECT_EQ(test::ReadBytes(settingsPath().toStdString()),
              "[CONFIG]\r\nLANGUAGE=" + chosen.toStdString() + "\r\nXRES=600\r\nYRES=600\r\nLAYER=0\r\nMIL=2\r\n");
    EXPECT_EQ(ChooseWindowLanguage(LoadSettings(settingsPath().toStdString()).language, "C", nullptr, nullptr),
              english() ? WindowLanguage::Chinese : WindowLanguage::English);
}

INSTANTIATE_TEST_SUITE_P(Languages, LanguageTest, testing::Values(WindowLanguage::Chinese, WindowLanguage::English),
                         [](const auto& info) {
                             return info.param == WindowLanguage::English ? "English" : "Chinese";
                         });

// ---- The locale of the process --------------------------------------------

// Sets the locale variables for one case and puts them back afterwards.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(const char* lang) {
        for (const char* name : kNames) saved_.push_back(qgetenv(name));
        for (const char* name : kNames) qunsetenv(name);
        qputenv("LANG", lang);
    }
    ~LocaleEnvironment() {
        for (size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i].isNull()) {
                qunsetenv(kNames[i]);
            } else {
                qputenv(kNames[i], saved_[i]);
            }
        }
    }

private:
    static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<QByteArray> saved_;
};

TEST(WindowUnderALocale, EnglishLocaleShowsEnglishAndCOrChineseShowToday) {
    for (const char* lang : {"en_US.UTF-8", "C", "zh_CN.UTF-8"}) {
        const LocaleEnvironment environment(lang);
        const WindowLanguage language = ChooseWindowLanguage("");
        ASSERT_TRUE(applyWindowLanguage(language, {kTranslations}));
        EXPECT_EQ(shownLanguage(), language);
        FakeDialogs dialogs;
        QTemporaryDir dir;
        {
            TRtcFrmMain window(dialogs, dir.filePath(QStringLiteral("set.ini")).toStdString());
            const bool english = std::string_view(lang) == "en_US.UTF-8";
            EXPECT_EQ(window.GroupBox3->title(), english ? QStringLiteral("Output") : QString::fromUtf8("转出设置"))
                << lang;
        }
        applyWindowLanguage(WindowLanguage::Chinese);
    }
}

TEST(WindowUnderALocale, AMissingTranslationLeavesTheTextsChinese) {
    QTemporaryDir empty;
    EXPECT_FALSE(applyWindowLanguage(WindowLanguage::English, {empty.path()}));
    EXPECT_EQ(shownLanguage(), WindowLanguage::Chinese);
    EXPECT_EQ(QCoreApplication::translate("TRtcFrmMain", "转出设置"), QString::fromUtf8("转出设置"));
}

}  // namespace
