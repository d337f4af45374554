// Drives modal windows the way a user would: each step waits until the
// window on top of the modal stack is the one it expects, then acts on it.
// Steps run from the event loop of whatever modal window is open, so the
// code under test runs its own exec() loops unchanged.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>

namespace tk571::ui::testing {

class ModalScript {
 public:
  using Match = std::function<bool(QWidget*)>;
  using Action = std::function<void(QWidget*)>;

  ModalScript() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
    idle_.start();
  }
  ~ModalScript() {
    timer_.stop();
    EXPECT_TRUE(steps_.empty()) << steps_.size() << " step(s) never ran; next: "
                                << (steps_.empty() ? "" : steps_.front().what);
  }

  // Acts on the window named `name` (its object name) once `ready` holds.
  ModalScript& On(const std::string& name, Action action, Match ready = nullptr) {
    steps_.push_back({name,
                      [name, ready](QWidget* w) {
                        return w->objectName() == QString::fromStdString(name) &&
                               (!ready || ready(w));
                      },
                      std::move(action)});
    return *this;
  }
  // Expects a message box, records its text and closes it with OK.
  ModalScript& Box(std::string* text = nullptr) {
    steps_.push_back({"message box", [](QWidget* w) { return qobject_cast<QMessageBox*>(w); },
                      [text](QWidget* w) {
                        auto* box = static_cast<QMessageBox*>(w);
                        if (text) *text = box->text().toStdString();
                        box->accept();
                      }});
    return *this;
  }

  bool done() const { return steps_.empty(); }

 private:
  struct Step {
    std::string what;
    Match match;
    Action action;
  };

  void Poll() {
    if (running_) return;
    QWidget* top = QApplication::activeModalWidget();
    if (!steps_.empty() && top && top->isVisible() && steps_.front().match(top)) {
      Step step = std::move(steps_.front());
      steps_.pop_front();
      idle_.restart();
      // Queued, so that a click that opens the next modal window does not
      // run inside this timer's handler.
      running_ = true;
      QPointer<QWidget> target(top);
      QMetaObject::invokeMethod(
          top,
          [this, step, target] {
            running_ = false;
            if (target) step.action(target);
          },
          Qt::QueuedConnection);
      return;
    }
    // A script that waits for a window that never comes must not hang the
    // test run: close what is open so the call under test returns.
    if (top && idle_.elapsed() > kGiveUpMs) {
      ADD_FAILURE() << "gave up waiting for " << (steps_.empty() ? "nothing" : steps_.front().what)
                    << "; open: " << top->objectName().toStdString();
      steps_.clear();
      top->close();
      if (auto* dialog = qobject_cast<QDialog*>(top)) dialog->reject();
    }
  }

  static constexpr qint64 kGiveUpMs = 20000;
  std::deque<Step> steps_;
  QTimer timer_;
  QElapsedTimer idle_;
  bool running_ = false;
};

template <typename T = QWidget>
T* Child(QWidget* w, const char* name) {
  T* child = w->findChild<T*>(QLatin1String(name));
  EXPECT_NE(child, nullptr) << "no " << name << " in " << w->objectName().toStdString();
  return child;
}

inline void Click(QWidget* w, const char* name) {
  if (auto* button = Child<QAbstractButton>(w, name)) button->click();
}

inline void Type(QWidget* w, const char* name, const QString& text, bool finish = false) {
  auto* edit = Child<QLineEdit>(w, name);
  if (!edit) return;
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, text);
  if (finish) QTest::keyClick(edit, Qt::Key_Return);
}

// Saves a picture of the window when TK571_SCREENSHOT_DIR names a directory.
inline void Shot(QWidget* w, const char* file) {
  const QByteArray dir = qgetenv("TK571_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  QDir().mkpath(QString::fromLocal8Bit(dir));
  w->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(file));
}

}  // namespace tk571::ui::testing
