#include "QiOptEnum.h"

#include "QiAscii.h"

QiOptEnum::QiOptEnum(const char *n, const char *d, unsigned def, const char *const *values, const QiLayout &l)
    : QiOption(n, d, Enumeration, l)
{
    auto s = std::make_shared<Snapshot>();
    for (const char *const *v = values; v && *v; ++v)
        s->texts.push_back(*v);
    s->def = def;
    s->live = &m_live;
    ++m_live;
    m_snap = std::move(s);
}

QiOptEnum::~QiOptEnum() = default;

unsigned QiOptEnum::count() const { return static_cast<unsigned>(snap()->texts.size()); }
unsigned QiOptEnum::defaultIndex() const { return snap()->def; }

std::string QiOptEnum::nameAt(long index) const
{
    const auto held = snap();
    const Snapshot &s = *held;
    if (index >= 0 && static_cast<size_t>(index) < s.texts.size())
        return s.texts[static_cast<size_t>(index)];
    if (s.def < s.texts.size())
        return s.texts[s.def];
    return std::string();
}

std::vector<std::string> QiOptEnum::values() const
{
    const auto held = snap();
    const Snapshot &s = *held;
    return std::vector<std::string>(s.texts.begin(), s.texts.end());
}

bool QiOptEnum::describe(QiParams &out) const
{
    QiOption::describe(out);
    const auto held = snap();
    const Snapshot &s = *held;
    out.set("DefaultValue", s.def < s.texts.size() ? s.texts[s.def] : "");
    std::string stem(name);
    unsigned i = 0;
    for (; i < s.texts.size(); ++i)
        out.set(stem + std::to_string(i), s.texts[i]);
    out.setInt("nVal", static_cast<int32_t>(i));
    return true;
}

bool QiOptEnum::lookup(const Snapshot &s, const char *text, unsigned &index) const
{
    for (unsigned i = 0; i < s.texts.size(); ++i) {
        if (qiEqualsIgnoreCase(s.texts[i], text)) {
            index = i;
            return true;
        }
    }
    return false;
}

bool QiOptEnum::read(const QiParams &params, unsigned &index) const
{
    const auto held = snap();
    const Snapshot &s = *held;
    const char *text;
    if (!params.get(name, text)) {
        index = s.def;
        return false;
    }
    lookup(s, text, index);
    return true;
}

bool QiOptEnum::readToggle(QiParams &params, unsigned &index) const
{
    const auto held = snap();
    const Snapshot &s = *held;
    const char *text;
    if (!params.get(name, text)) {
        index = s.def;
        return false;
    }
    if (qiEqualsIgnoreCase(text, "toggle") && !s.texts.empty()) {
        index = (index + 1) % static_cast<unsigned>(s.texts.size());
        params.set(name, s.texts[index]);
        return true;
    }
    lookup(s, text, index);
    return true;
}

void QiOptEnum::setValues(const std::vector<std::string> &values, unsigned def)
{
    auto s = std::make_shared<Snapshot>();
    s->owned = values;
    for (const std::string &v : s->owned)
        s->texts.push_back(v.c_str());
    s->def = def;
    s->live = &m_live;
    ++m_live;
    std::shared_ptr<const Snapshot> old = std::move(s);
    {
        std::lock_guard<std::mutex> guard(m_snapLock);
        m_snap.swap(old);
    }
    // The replaced list goes when its last reader lets go (here, if none).
}
