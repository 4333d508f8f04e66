#include "App/Search/InlineRename.h"

namespace pallix {

void InlineRename::setTargetID(const QString& id)
{
    if (id == m_targetID)
        return;
    m_targetID = id;
    emit targetIDChanged();
}

void InlineRename::setDraft(const QString& draft)
{
    if (draft == m_draft)
        return;
    m_draft = draft;
    emit draftChanged();
}

} // namespace pallix
