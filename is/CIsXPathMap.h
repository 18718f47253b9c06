// The XPath map: the named queries clients registered, by query identifier,
// and its section form.
//
//   CIsXPathMap map;
//   map.insert(String("drives"), String("//Device/ESType/@ESName"));
//   section << map;           // "1 6 drives 23 //Device/ESType/@ESName"
//   section >> map;           // test section.state() afterwards
//
// Section form: the number of entries (unsigned 32-bit), one space, then per
// entry in identifier order the identifier and the XPath text as narrow
// strings with one space between them. Stored files hold exactly these
// bytes. The reader clears the map first, reads at most the stated number
// of entries and keeps what it read when the section ends early or is
// damaged ("error reading installation data").
#pragma once

#include "base/falloc/String.h"

#include <map>

class FsSecCl;

class CIsXPathMap {
public:
    using Map = std::map<String, String>;

    // False when the identifier is there already (the map is unchanged).
    bool insert(const String& id, const String& xpath) { return m_map.emplace(id, xpath).second; }
    bool erase(const String& id) { return m_map.erase(id) != 0; }
    const String* find(const String& id) const {
        auto it = m_map.find(id);
        return it == m_map.end() ? nullptr : &it->second;
    }
    void clear() { m_map.clear(); }
    size_t size() const { return m_map.size(); }
    const Map& entries() const { return m_map; }

private:
    Map m_map;
};

FsSecCl& operator<<(FsSecCl& section, const CIsXPathMap& map);
FsSecCl& operator>>(FsSecCl& section, CIsXPathMap& map);
