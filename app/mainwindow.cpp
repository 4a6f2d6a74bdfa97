// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/aboutbox.h"
#include "app/helpwindow.h"
#include "app/optionspage.h"
#include "app/pages/bootpage.h"
#include "app/pages/repairpage.h"
#include "app/pages/formatpage.h"
#include "app/pages/dupdiskpage.h"
#include "app/pages/infopage.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

// The window's smallest size in characters of its font, so that it grows with the font
// and with the screen's scale.
constexpr int kMinimumColumns = 68;
constexpr int kMinimumLines = 26;

QPushButton* Button(QWidget* parent, int id, Str text)
{
    auto* button = new QPushButton(UiText(text), parent);
    SetControlId(button, id);
    return button;
}

}  // namespace

MainWindow::MainWindow(Shell& shell, const QString& title, int startPage)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      shell_(shell), pages_(new QTabWidget(this))
{
    setWindowTitle(title);
    shell_.mainWindow = this;

    // The pages of the subsystems take these places as they come.
    pages_->addTab(new DupDiskPage(shell_, pages_), UiText(Dialog::DupDisk, kCaption));
    pages_->addTab(new FormatPage(shell_, pages_), UiText(Dialog::Format, kCaption));
    pages_->addTab(new RepairPage(shell_, pages_), UiText(Dialog::Repair, kCaption));
    pages_->addTab(new BootPage(shell_, pages_), UiText(Dialog::Boot, kCaption));
    pages_->addTab(new InfoPage(shell_, pages_), UiText(Dialog::Info, kCaption));
    auto* options = new OptionsPage(shell_, pages_);
    pages_->addTab(options, UiText(Dialog::Options, kCaption));
    pages_->setCurrentIndex(startPage);
    // Start-up builds the window again in the other language, on the Options page.
    connect(options, &OptionsPage::languageChanged, this, &QWidget::close);

    QPushButton* quit = Button(this, kQuitButton, Str::QuitButton);
    QPushButton* about = Button(this, kAboutButton, Str::AboutButton);
    QPushButton* help = Button(this, kHelpButton, Str::HelpButton);
    connect(quit, &QPushButton::clicked, this, &QWidget::close);
    connect(about, &QPushButton::clicked, this, &MainWindow::ShowAbout);
    connect(help, &QPushButton::clicked, this, &MainWindow::ShowHelp);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(quit);
    buttons->addWidget(about);
    buttons->addWidget(help);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_, 1);
    layout->addLayout(buttons);

    const QFontMetrics metrics = fontMetrics();
    setMinimumSize(QSize(metrics.averageCharWidth() * kMinimumColumns, metrics.lineSpacing() * kMinimumLines)
                       .expandedTo(layout->minimumSize()));
}

MainWindow::~MainWindow()
{
    if (shell_.mainWindow == this)
        shell_.mainWindow = nullptr;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit closed();
}

void MainWindow::ShowAbout()
{
    AboutBox about(this);
    about.exec();
}

void MainWindow::ShowHelp()
{
    if (!help_)
        help_ = new HelpWindow(this);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

}  // namespace vokta
