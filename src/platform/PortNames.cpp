#include "platform/PortNames.h"

#include <array>
#include <map>
#include <mutex>

namespace tarnflow::PortNames {

namespace {

struct Table {
    std::mutex mutex;
    std::map<std::string, int> numbers;
    std::array<std::string, kMaxPort + 1> nodes;  // index 0 unused; empty = free
};

// Built on first use, so that callers from other static initialisers find it ready.
Table& TheTable() {
    static Table table;
    return table;
}

bool InRange(int number) {
    return number >= kMinPort && number <= kMaxPort;
}

}  // namespace

int NumberFor(const std::string& deviceNode, int preferred) {
    if (deviceNode.empty()) {
        return 0;
    }
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (const auto known = table.numbers.find(deviceNode); known != table.numbers.end()) {
        return known->second;
    }
    int number = 0;
    if (InRange(preferred) && table.nodes[preferred].empty()) {
        number = preferred;
    } else {
        for (int candidate = kMinPort; candidate <= kMaxPort; ++candidate) {
            if (table.nodes[candidate].empty()) {
                number = candidate;
                break;
            }
        }
    }
    if (number == 0) {
        return 0;
    }
    table.nodes[number] = deviceNode;
    table.numbers.emplace(deviceNode, number);
    return number;
}

std::string NodeFor(int number) {
    if (!InRange(number)) {
        return {};
    }
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.nodes[number];
}

std::string PortName(int number) {
    return "COM" + std::to_string(number);
}

void ResetForTesting() {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.numbers.clear();
    table.nodes.fill(std::string());
}

}  // namespace tarnflow::PortNames
