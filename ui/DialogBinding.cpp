#include "ui/DialogBinding.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>

namespace quovix::ui {

namespace {
QString LinkHtml(const std::string& caption) {
  return "<a href=\"#\">" + ToQ(caption).toHtmlEscaped() + "</a>";
}
}  // namespace

DialogBinder::~DialogBinder() {
  for (auto& [c, id] : subs_) c->Unsubscribe(id);
}

void DialogBinder::Watch(TControl& c, QWidget* w, std::function<void()> refresh) {
  auto full = [&c, w, refresh = std::move(refresh), this] {
    ++updating_;
    w->setEnabled(c.Enabled());
    w->setVisible(c.Visible());
    if (refresh) refresh();
    --updating_;
  };
  full();
  subs_.emplace_back(&c, c.Subscribe(full));
  widgets_.emplace_back(&c, w);
}

QWidget* DialogBinder::WidgetOf(const TControl& c) const {
  for (const auto& [control, w] : widgets_)
    if (control == &c) return w;
  return nullptr;
}

void DialogBinder::State(TControl& c, QWidget* w) { Watch(c, w, nullptr); }

void DialogBinder::Label(TLabel& c, QLabel* w) {
  Watch(c, w, [&c, w] {
    w->setText(ToQ(c.Caption()));
    QFont f = w->font();
    f.setBold(c.Bold);
    w->setFont(f);
  });
}

void DialogBinder::Group(TGroupBox& c, QGroupBox* w) {
  Watch(c, w, [&c, w] { w->setTitle(ToQ(c.Caption())); });
}

void DialogBinder::Link(TLinkLabel& c, QLabel* w) {
  w->setTextFormat(Qt::RichText);
  w->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  w->setOpenExternalLinks(false);
  w->setCursor(Qt::PointingHandCursor);
  Watch(c, w, [&c, w] {
    w->setText(LinkHtml(c.Caption()));
    w->setToolTip(ToQ(c.Hint));
  });
  QObject::connect(w, &QLabel::linkActivated, w, [&c](const QString&) { c.Click(); });
}

void DialogBinder::Button(TButton& c, QPushButton* w) {
  Watch(c, w, [&c, w] {
    w->setText(ToQ(c.Caption()));
    w->setDefault(c.Default);
  });
  QObject::connect(w, &QPushButton::clicked, w, [&c] { c.Click(); });
}

void DialogBinder::Check(TCheckBox& c, QAbstractButton* w) {
  w->setCheckable(true);
  Watch(c, w, [&c, w] {
    w->setText(ToQ(c.Caption()));
    w->setChecked(c.Checked());
  });
  QObject::connect(w, &QAbstractButton::clicked, w, [&c, w](bool on) {
    c.SetChecked(on);
    // The handler may have refused or changed the mark.
    if (w->isChecked() != c.Checked()) w->setChecked(c.Checked());
  });
}

void DialogBinder::Radio(TRadioButton& c, QRadioButton* w) {
  // The model keeps the group; the widgets must not fight it.
  w->setAutoExclusive(false);
  Watch(c, w, [&c, w] {
    w->setText(ToQ(c.Caption()));
    w->setChecked(c.Checked());
  });
  QObject::connect(w, &QAbstractButton::clicked, w, [&c, w](bool) {
    c.Select();
    w->setChecked(c.Checked());
  });
}

void DialogBinder::Combo(TComboBox& c, QComboBox* w) {
  w->setEditable(c.Style == TComboStyle::DropDown);
  if (w->isEditable() && c.MaxLength > 0) w->lineEdit()->setMaxLength(c.MaxLength);
  Watch(c, w, [&c, w] {
    QSignalBlocker block(w);
    QStringList items;
    for (const std::string& s : c.Items()) items << ToQ(s);
    QStringList shown;
    for (int i = 0; i < w->count(); ++i) shown << w->itemText(i);
    if (shown != items) {
      w->clear();
      w->addItems(items);
    }
    w->setCurrentIndex(c.ItemIndex());
    if (w->isEditable() && w->currentText() != ToQ(c.Text())) w->setEditText(ToQ(c.Text()));
  });
  if (w->isEditable()) {
    QObject::connect(w, &QComboBox::editTextChanged, w, [this, &c](const QString& t) {
      if (!updating_) c.SetText(FromQ(t));
    });
  }
  QObject::connect(w, &QComboBox::activated, w, [this, &c](int i) {
    if (updating_) return;
    c.SetItemIndex(i);
    if (c.OnChange) c.OnChange();
  });
}

void DialogBinder::Edit(TEdit& c, QLineEdit* w) {
  Watch(c, w, [&c, w] {
    w->setReadOnly(c.ReadOnly);
    if (w->text() != ToQ(c.Text())) w->setText(ToQ(c.Text()));
    if (c.Grey) {
      QPalette p = w->palette();
      p.setColor(QPalette::Base, p.color(QPalette::Window));
      w->setPalette(p);
    }
  });
  QObject::connect(w, &QLineEdit::textEdited, w, [&c](const QString& t) {
    c.SetText(FromQ(t));
    if (c.OnChange) c.OnChange();
  });
}

void DialogBinder::UpDown(TUpDown& ud, QSpinBox* w) {
  w->setRange(ud.Min, ud.Max);
  w->setGroupSeparatorShown(false);
  TEdit* edit = ud.Associate;
  auto refresh = [&ud, w] {
    if (w->value() != ud.Position()) w->setValue(ud.Position());
  };
  Watch(ud, w, refresh);
  if (edit) {
    // The edit shares the widget: its state and text show there too.
    Watch(*edit, w, [&ud, edit, w] {
      w->setEnabled(edit->Enabled() && ud.Enabled());
      if (w->value() != ud.Position()) w->setValue(ud.Position());
    });
  }
  QObject::connect(w, &QSpinBox::valueChanged, w, [this, &ud](int v) {
    if (!updating_) ud.SetPosition(v);
  });
}

}  // namespace quovix::ui
