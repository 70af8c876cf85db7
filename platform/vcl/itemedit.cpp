#include "itemedit.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTreeWidget>

struct TLabelEditor::State {
    QPointer<QLineEdit> box;
    Done done;
    std::unique_ptr<QObject> filter;
    bool finishing = false;
};

namespace {

class BoxFilter : public QObject {
public:
    explicit BoxFilter(TLabelEditor* editor) : m_editor(editor) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
                m_editor->Finish(key != Qt::Key_Escape);
                return true;
            }
        } else if (e->type() == QEvent::FocusOut) {
            m_editor->Finish(true);
        }
        return false;
    }

private:
    TLabelEditor* m_editor;
};

// Hands key events of an item view to the control first.
class ViewKeyRouter : public QObject {
public:
    ViewKeyRouter(TCustomListView* list, QObject* parent) : QObject(parent), m_list(list) {}
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease)
            return false;
        // Moving through the rows stays the view's own, as it always was.
        switch (static_cast<QKeyEvent*>(e)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            return false;
        default:
            break;
        }
        if (m_list->HandleEvent(e))
            return true;
        // The view acts on what is left; a key it ignores stops here, so the
        // control does not see it a second time on its way up.
        watched->event(e);
        e->accept();
        return true;
    }

private:
    TCustomListView* m_list;
};

} // namespace

TLabelEditor::TLabelEditor() : m_state(std::make_unique<State>()) {}

TLabelEditor::~TLabelEditor()
{
    if (m_state->box) {
        m_state->box->removeEventFilter(m_state->filter.get());
        delete m_state->box.data();
    }
}

bool TLabelEditor::Begin(TWinControl* control, TRect rect, const std::string& text, Done done)
{
    if (Active() || !control || !control->Widget())
        return false;
    auto* box = new QLineEdit(control->Widget());
    box->setFrame(true);
    box->setText(QString::fromStdString(text));
    box->selectAll();
    const int height = std::max(rect.Bottom - rect.Top, box->sizeHint().height());
    const int width = std::max({rect.Right - rect.Left + 40, 120, box->fontMetrics().horizontalAdvance(box->text()) + 24});
    box->setGeometry(rect.Left, rect.Top + (rect.Bottom - rect.Top - height) / 2, width, height);
    m_state->box = box;
    m_state->done = std::move(done);
    m_state->filter = std::make_unique<BoxFilter>(this);
    m_state->finishing = false;
    box->installEventFilter(m_state->filter.get());
    box->show();
    box->raise();
    box->setFocus(Qt::OtherFocusReason);
    return true;
}

bool TLabelEditor::Active() const { return m_state->box && !m_state->finishing; }

QLineEdit* TLabelEditor::Box() const { return Active() ? m_state->box.data() : nullptr; }

void TLabelEditor::Finish(bool accept)
{
    if (!Active())
        return;
    m_state->finishing = true;
    QLineEdit* box = m_state->box;
    const std::string text = box->text().toStdString();
    box->removeEventFilter(m_state->filter.get());
    QWidget* owner = box->parentWidget();
    box->hide();
    box->deleteLater();
    m_state->box = nullptr;
    if (owner && !owner->hasFocus())
        owner->setFocus(Qt::OtherFocusReason);
    Done done = std::move(m_state->done);
    m_state->done = nullptr;
    m_state->finishing = false;
    if (done)
        done(accept, text);
}

TRect TreeNodeLabelRect(TCustomTreeView& tree, TTreeNode* node) { return tree.NodeRect(node, true); }

TRect ListItemLabelRect(TCustomListView& list, TListItem* item)
{
    auto* view = static_cast<QAbstractItemView*>(list.ActiveView());
    const int row = item ? list.Items().IndexOf(item) : -1;
    if (!view || row < 0)
        return {};
    QRect r = view->visualRect(view->model()->index(row, 0));
    r.moveTopLeft(view->viewport()->mapTo(view->parentWidget(), r.topLeft()));
    // The name stands right of the small icon in the report and list styles.
    if (list.ViewStyle() == TViewStyle::vsReport || list.ViewStyle() == TViewStyle::vsList)
        r.setLeft(r.left() + 20);
    return Rect(r.left(), r.top(), r.right() + 1, r.bottom() + 1);
}

void RouteListViewKeys(TCustomListView& list)
{
    QWidget* stack = list.Widget();
    if (!stack)
        return;
    for (QAbstractItemView* view : stack->findChildren<QAbstractItemView*>(Qt::FindDirectChildrenOnly))
        view->installEventFilter(new ViewKeyRouter(&list, view));
}
