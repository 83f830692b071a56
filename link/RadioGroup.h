#pragma once
// A titled group of radio buttons laid out in columns, addressed by the index of the checked
// item (-1: none). Items fill the first column top to bottom, then the next.

#include <QGroupBox>
#include <string>
#include <vector>

class QButtonGroup;
class QRadioButton;

namespace loader
{

class TRadioGroup : public QGroupBox
{
    Q_OBJECT

  public:
    TRadioGroup(const std::string &caption, const std::vector<std::string> &items, int columns,
                QWidget *parent = nullptr);

    int ItemIndex() const;
    // Checks the item at the index; an index outside the items clears the selection.
    void SetItemIndex(int index);

    int Count() const { return static_cast<int>(buttons_.size()); }
    QRadioButton *Button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }

  private:
    QButtonGroup *group_;
    std::vector<QRadioButton *> buttons_;
};

} // namespace loader
