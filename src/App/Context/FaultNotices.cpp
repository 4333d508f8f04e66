#include "App/Context/FaultNotices.h"

#include <algorithm>

namespace pallix {

QStringList FaultNotices::texts() const
{
    QStringList texts;
    for (const Notice& notice : m_notices)
        texts.append(notice.text);
    return texts;
}

void FaultNotices::raise(Cause cause, const QString& text)
{
    if (text.isEmpty())
        return;
    const auto it = std::find_if(m_notices.begin(), m_notices.end(), [&](const Notice& n) { return n.cause == cause; });
    if (it != m_notices.end()) {
        if (it->text == text)
            return;
        it->text = text;
    } else {
        m_notices.append({cause, text});
    }
    emit raised(text);
    emit changed();
}

void FaultNotices::withdraw(Cause cause)
{
    if (m_notices.removeIf([&](const Notice& n) { return n.cause == cause; }) > 0)
        emit changed();
}

void FaultNotices::dismissAll()
{
    if (m_notices.isEmpty())
        return;
    m_notices.clear();
    emit changed();
}

} // namespace pallix
