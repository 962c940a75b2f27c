#include "link/CPortTable.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>

namespace orvex {

CPortTable::CPortTable(const std::vector<std::string>& paths)
{
    for (std::size_t i = 0; i < paths.size() && i < m_paths.size(); ++i)
        m_paths[i] = paths[i];
}

CPortTable CPortTable::FromEnvironment()
{
    if (const char* list = std::getenv("ORVEX_PORTS"))
        return FromList(list);
    return FromDevices();
}

CPortTable CPortTable::FromList(std::string_view list)
{
    CPortTable table;
    int slot = 0;
    while (slot < kSlots) {
        auto comma = list.find(',');
        table.m_paths[static_cast<std::size_t>(slot++)] = std::string(list.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return table;
}

CPortTable CPortTable::FromDevices(const std::string& directory)
{
    static constexpr std::string_view prefixes[] { "ttyUSB", "ttyACM", "ttyS" };
    std::vector<std::string> found;
    for (auto prefix : prefixes) {
        std::vector<std::pair<unsigned long, std::string>> numbered;
        if (DIR* dir = opendir(directory.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string_view name(entry->d_name);
                if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size())
                    continue;
                auto digits = name.substr(prefix.size());
                if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
                    continue;
                numbered.emplace_back(std::stoul(std::string(digits)), directory + "/" + std::string(name));
            }
            closedir(dir);
        }
        std::sort(numbered.begin(), numbered.end());
        for (auto& [number, path] : numbered)
            found.push_back(path);
    }
    return CPortTable(found);
}

std::string CPortTable::Name(int index)
{
    return "COM" + std::to_string(index + 1);
}

const std::string& CPortTable::Path(int index) const
{
    static const std::string none;
    return IsValidIndex(index) ? m_paths[static_cast<std::size_t>(index)] : none;
}

void CPortTable::SetPath(int index, std::string path)
{
    if (IsValidIndex(index))
        m_paths[static_cast<std::size_t>(index)] = std::move(path);
}

} // namespace orvex
