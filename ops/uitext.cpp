#include "ops/uitext.h"

namespace vokta {

QWidget* FindControl(QWidget* root, int id)
{
    if (ControlId(root) == id)
        return root;
    for (QWidget* child : root->findChildren<QWidget*>())
        if (ControlId(child) == id)
            return child;
    return nullptr;
}

}  // namespace vokta
