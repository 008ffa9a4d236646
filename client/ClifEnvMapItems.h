#ifndef CLIF_ENV_MAP_ITEMS_H
#define CLIF_ENV_MAP_ITEMS_H

#include <map>
#include <string>
#include <vector>

#include "soapStub.h"

// The environment map as the request's map parameter: its items in the map's
// (sorted) order, pointing at copies of the keys and values held here.
class ClifEnvMapItems
{
public:
    explicit ClifEnvMapItems(const std::map<std::string, std::string>& env)
    {
        m_keys.reserve(env.size());
        m_values.reserve(env.size());
        m_items.resize(env.size());
        for (const auto& entry : env)
        {
            m_keys.push_back(entry.first);
            m_values.push_back(entry.second);
        }
        for (size_t i = 0; i < m_items.size(); ++i)
        {
            m_items[i].key = &m_keys[i];
            m_items[i].value = &m_values[i];
            m_itemPointers.push_back(&m_items[i]);
        }
        m_map.item = &m_itemPointers;
    }

    // The items point into the object itself: it stays where it was built.
    ClifEnvMapItems(const ClifEnvMapItems&) = delete;
    ClifEnvMapItems& operator=(const ClifEnvMapItems&) = delete;

    ns3__Map* get() { return &m_map; }

private:
    std::vector<std::string> m_keys;
    std::vector<std::string> m_values;
    std::vector<ns3__mapItem> m_items;
    std::vector<ns3__mapItem*> m_itemPointers;
    ns3__Map m_map;
};

#endif
