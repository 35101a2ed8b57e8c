#include "measurement/rules/CommandTable.h"

#include <unordered_map>

namespace measurement::rules {
namespace {

using Table = std::unordered_map<std::u16string_view, const CommandHandler*>;

Table buildTable() {
    Table table;
    // A later list replaces an earlier one's opcode.
    for (const auto list : {bitwiseCommands(), comparisonCommands(), controlCommands(), logicalCommands(),
                            loopCommands(), mathCommands(), variableCommands()}) {
        for (const CommandHandler& handler : list) table[handler.opcode] = &handler;
    }
    return table;
}

}  // namespace

const CommandHandler* findCommand(std::u16string_view opcode) {
    static const Table table = buildTable();
    const auto it = table.find(opcode);
    return it == table.end() ? nullptr : it->second;
}

}  // namespace measurement::rules
