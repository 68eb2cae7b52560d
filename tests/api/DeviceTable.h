// The model table of docs/devices.md, between its "devices-table-" markers:
// one row of trimmed cells per model (name, machine code in hex and in
// decimal, device type, channels, receive type, notes).
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::vector<std::string>> DeviceTableRows() {
    const char* root = std::getenv("IPCAM_SOURCE_DIR");
    const std::string file(__FILE__);
    std::ifstream in((root ? std::string(root) : file.substr(0, file.rfind("/tests/"))) + "/docs/devices.md");
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (line.find("devices-table-") != std::string::npos)
            inTable = line.find("devices-table-begin") != std::string::npos;
        if (!inTable || line.compare(0, 2, "| ") != 0 || line.compare(0, 6, "| name") == 0)
            continue;
        std::vector<std::string> cells;
        std::istringstream cs(line.substr(1));
        for (std::string cell; std::getline(cs, cell, '|');) {
            const size_t a = cell.find_first_not_of(' ');
            cells.push_back(a == std::string::npos ? "" : cell.substr(a, cell.find_last_not_of(' ') - a + 1));
        }
        if (cells.size() >= 6)
            rows.push_back(cells);
    }
    return rows;
}
