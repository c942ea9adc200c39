#include "app/qt_services.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include "app/command_table.h"

namespace {

std::optional<MessageResult> AnswerFromWord(const std::string& word) {
    std::string w;
    for (char c : word)
        w += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (w == "yes") return MessageResult::Yes;
    if (w == "no") return MessageResult::No;
    if (w == "ok") return MessageResult::Ok;
    if (w == "cancel") return MessageResult::Cancel;
    return std::nullopt;
}

const char* AnswerWord(MessageResult r) {
    switch (r) {
        case MessageResult::Yes:
            return "yes";
        case MessageResult::No:
            return "no";
        case MessageResult::Cancel:
            return "cancel";
        case MessageResult::Ok:
            break;
    }
    return "ok";
}

bool Fits(MessageResult r, MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return r == MessageResult::Ok;
        case MessageButtons::OkCancel:
            return r == MessageResult::Ok || r == MessageResult::Cancel;
        case MessageButtons::YesNo:
            return r == MessageResult::Yes || r == MessageResult::No;
        case MessageButtons::YesNoCancel:
            return r != MessageResult::Ok;
    }
    return false;
}

MessageResult DefaultAnswer(MessageButtons buttons) {
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel
               ? MessageResult::Yes
               : MessageResult::Ok;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::string EnvironmentText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

QMessageBox::Icon BoxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

std::optional<AutoAnswers> AutoAnswers::Parse(const std::string& answers,
                                              const std::string& logPath, std::string* error) {
    AutoAnswers result;
    result.logPath_ = logPath;
    std::string word;
    auto take = [&]() -> bool {
        if (word.empty()) return true;
        std::optional<MessageResult> r = AnswerFromWord(word);
        if (!r) {
            if (error) *error = "unknown answer '" + word + "' in SELVAR_AUTO_ANSWER";
            return false;
        }
        result.answers_.push_back(*r);
        word.clear();
        return true;
    };
    for (char c : answers) {
        if (c == ',' || c == ';' || std::isspace(static_cast<unsigned char>(c))) {
            if (!take()) return std::nullopt;
        } else {
            word += c;
        }
    }
    if (!take()) return std::nullopt;
    return result;
}

std::optional<AutoAnswers> AutoAnswers::FromEnvironment(std::string* error) {
    std::string answers = EnvironmentText("SELVAR_AUTO_ANSWER");
    std::string log = EnvironmentText("SELVAR_MESSAGE_LOG");
    if (answers.empty() && log.empty()) return std::nullopt;
    return Parse(answers, log, error);
}

MessageResult AutoAnswers::Next(MessageButtons buttons) {
    // A box that asks nothing does not use up an answer meant for a question.
    if (buttons == MessageButtons::Ok || answers_.empty()) return DefaultAnswer(buttons);
    MessageResult r = answers_[std::min(next_, answers_.size() - 1)];
    if (next_ < answers_.size()) ++next_;
    return Fits(r, buttons) ? r : DefaultAnswer(buttons);
}

std::string AutoAnswers::LogLine(const std::string& caption, const std::string& text,
                                 MessageResult answer) {
    return Escape(caption) + "\t" + Escape(text) + "\t" + AnswerWord(answer);
}

void AutoAnswers::Log(const std::string& caption, const std::string& text,
                      MessageResult answer) const {
    if (logPath_.empty()) return;
    std::ofstream out(logPath_, std::ios::app | std::ios::binary);
    out << LogLine(caption, text, answer) << '\n';
}

QtMessageBoxService::QtMessageBoxService(QObject* parent) : QObject(parent) {}

QtMessageBoxService::~QtMessageBoxService() {
    if (GetMessageBoxService() == this) SetMessageBoxService(nullptr);
}

void QtMessageBoxService::SetAutoAnswers(std::optional<AutoAnswers> answers) {
    std::lock_guard lock(answersMutex_);
    answers_ = std::move(answers);
}

void QtMessageBoxService::SetClosing() {
    closing_ = true;
}

QString QtMessageBoxService::ProgramTitle() {
    return QString::fromStdString(App::WindowCaption(nullptr));
}

MessageResult QtMessageBoxService::Show(const std::string& text, const std::string& caption,
                                        MessageIcon icon, MessageButtons buttons) {
    return Ask(text, caption, icon, buttons, {});
}

MessageResult QtMessageBoxService::ShowWithDetails(const std::string& text,
                                                   const std::string& caption, MessageIcon icon,
                                                   MessageButtons buttons,
                                                   const std::string& details) {
    return Ask(text, caption, icon, buttons, details);
}

MessageResult QtMessageBoxService::Ask(const std::string& text, const std::string& caption,
                                       MessageIcon icon, MessageButtons buttons,
                                       const std::string& details) {
    const std::string shownCaption = caption.empty() ? ProgramTitle().toStdString() : caption;
    {
        std::lock_guard lock(answersMutex_);
        if (answers_ && answers_->Answers()) {
            MessageResult r = answers_->Next(buttons);
            answers_->Log(shownCaption, text, r);
            return r;
        }
    }
    MessageResult result = DefaultAnswer(buttons);
    if (closing_) return result;
    RunOnThreadOf(this, [&] {
        if (closing_) return;
        result = RunBox(QString::fromStdString(text), QString::fromStdString(shownCaption), icon,
                        buttons, QString::fromStdString(details));
    });
    std::lock_guard lock(answersMutex_);
    if (answers_) answers_->Log(shownCaption, text, result);
    return result;
}

MessageResult QtMessageBoxService::RunBox(const QString& text, const QString& caption,
                                          MessageIcon icon, MessageButtons buttons,
                                          const QString& details) {
    QMessageBox box(BoxIcon(icon), caption, text, QMessageBox::NoButton, owner_);
    if (!details.isEmpty()) box.setDetailedText(details);
    // Qt's own button texts are English without its translations; the
    // program speaks Russian everywhere.
    auto add = [&](QMessageBox::StandardButton b, const char* label) {
        box.addButton(b)->setText(QString::fromUtf8(label));
    };
    switch (buttons) {
        case MessageButtons::Ok:
            add(QMessageBox::Ok, "OK");
            box.setDefaultButton(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Ok);
            break;
        case MessageButtons::OkCancel:
            add(QMessageBox::Ok, "OK");
            add(QMessageBox::Cancel, "Отмена");
            box.setDefaultButton(QMessageBox::Ok);
            break;
        case MessageButtons::YesNo:
            add(QMessageBox::Yes, "Да");
            add(QMessageBox::No, "Нет");
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
            break;
        case MessageButtons::YesNoCancel:
            add(QMessageBox::Yes, "Да");
            add(QMessageBox::No, "Нет");
            add(QMessageBox::Cancel, "Отмена");
            box.setDefaultButton(QMessageBox::Yes);
            break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageResult::Yes;
        case QMessageBox::No:
            return MessageResult::No;
        case QMessageBox::Cancel:
            return MessageResult::Cancel;
        case QMessageBox::Ok:
            return MessageResult::Ok;
        default:
            // Closed without a button: the box's escape choice.
            return buttons == MessageButtons::YesNo ? MessageResult::No
                   : buttons == MessageButtons::Ok  ? MessageResult::Ok
                                                    : MessageResult::Cancel;
    }
}

void QtDesktopService::Open(const std::string& path) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
    if (QThread::currentThread() == qApp->thread()) {
        QDesktopServices::openUrl(url);
        return;
    }
    QMetaObject::invokeMethod(
        qApp, [url] { QDesktopServices::openUrl(url); }, Qt::QueuedConnection);
}

void RunOnThreadOf(QObject* context, const std::function<void()>& fn) {
    if (QThread::currentThread() == context->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}
