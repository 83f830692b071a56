#include "link/RadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

namespace loader
{

TRadioGroup::TRadioGroup(const std::string &caption, const std::vector<std::string> &items,
                         int columns, QWidget *parent)
    : QGroupBox(QString::fromLatin1(caption.c_str()), parent), group_(new QButtonGroup(this))
{
    const int count = static_cast<int>(items.size());
    const int cols = std::max(1, columns);
    const int rows = std::max(1, (count + cols - 1) / cols);
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setVerticalSpacing(2);
    for (int i = 0; i < count; ++i) {
        auto *button =
            new QRadioButton(QString::fromLatin1(items[static_cast<std::size_t>(i)].c_str()), this);
        group_->addButton(button, i);
        layout->addWidget(button, i % rows, i / rows);
        buttons_.push_back(button);
    }
}

int TRadioGroup::ItemIndex() const
{
    return group_->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < Count()) {
        buttons_[static_cast<std::size_t>(index)]->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last button, so lift the rule for a moment.
    group_->setExclusive(false);
    for (QRadioButton *button : buttons_)
        button->setChecked(false);
    group_->setExclusive(true);
}

} // namespace loader
