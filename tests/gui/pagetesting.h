#pragma once

// What the page tests share: message boxes answered as they open, a step run on a dialog
// once it is the modal window, and pictures of windows saved into build/gui-shots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace vokta::test {

// Answers every message box that opens: Yes where it asks, else OK, and keeps its text.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts.push_back(box->text().toStdString());
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            (yes ? yes : box->button(QMessageBox::Ok))->click();
        });
        timer_.start();
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

// Runs `step` once on the dialog of type T when it is the modal window and `ready` says so.
template <typename T>
void WhenModal(std::function<void(T&)> step, std::function<bool(T&)> ready = [](T&) { return true; })
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, step, ready] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && ready(*dialog)) {
            timer->stop();
            timer->deleteLater();
            step(*dialog);
        }
    });
    timer->start();
}

inline void Shoot(QWidget& window, const char* name)
{
    const QString folder = QStringLiteral(VOKTA_BINARY_DIR "/gui-shots");
    QDir().mkpath(folder);
    EXPECT_TRUE(window.grab().save(folder + "/" + name));
}

}  // namespace vokta::test
