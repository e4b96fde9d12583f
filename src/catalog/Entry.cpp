#include "catalog/Entry.h"

#include <QHashFunctions>

namespace kovra {

using namespace Qt::StringLiterals;

QString rawValue(EntryKind kind)
{
    return kind == EntryKind::direct ? u"direct"_s : u"relay"_s;
}

Entry Entry::decode(const JsonDecodingContainer &c)
{
    Entry e;
    e.id = c.decode<QString>("id");
    e.name = c.decode<QString>("name");
    e.flag = c.decodeIfPresent<QString>("flag").value_or(u"🇷🇺"_s);
    e.kind = c.decodeIfPresent<QString>("kind") == u"direct"_s ? EntryKind::direct : EntryKind::relay;
    e.isDefault = c.decodeIfPresent<bool>("isDefault").value_or(false);
    e.note = c.decodeIfPresent<QString>("note");
    return e;
}

void Entry::encode(JsonEncodingContainer &c) const
{
    c.encode("id", id);
    c.encode("name", name);
    c.encode("flag", flag);
    c.encode("kind", rawValue(kind));
    c.encode("isDefault", isDefault);
    c.encodeIfPresent("note", note);
}

QList<Entry> Entry::fallback()
{
    static const QList<Entry> list{
        {u"auto"_s, u"Авто"_s, u"\u2699\uFE0F"_s, EntryKind::relay, true, u"Выбираем рабочий вход за вас"_s},
        {u"ru-1"_s, u"РФ-1"_s, u"🇷🇺"_s, EntryKind::relay, false, u"Через РФ · стабильный вход"_s},
        {u"ru-2"_s, u"РФ-2"_s, u"🇷🇺"_s, EntryKind::relay, false, u"Через РФ · второй канал"_s},
    };
    return list;
}

QString Entry::defaultID(const QList<Entry> &entries)
{
    for (const Entry &e : entries)
        if (e.isDefault)
            return e.id;
    return entries.isEmpty() ? u"auto"_s : entries.first().id;
}

size_t qHash(const Entry &e, size_t seed)
{
    QtPrivate::QHashCombine hash;
    seed = hash(seed, e.id);
    seed = hash(seed, e.name);
    seed = hash(seed, e.flag);
    seed = hash(seed, rawValue(e.kind));
    seed = hash(seed, e.isDefault);
    seed = hash(seed, e.note.has_value());
    if (e.note)
        seed = hash(seed, *e.note);
    return seed;
}

} // namespace kovra
