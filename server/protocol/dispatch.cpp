#include "protocol/dispatch.h"

namespace {

const DispatchRow kRows[] = {
    {CommandListGroups, &CMVS5ClientSession::ListGroups, 0},
    {CommandFetchGroup, &CMVS5ClientSession::FetchGroup, 0},
    {CommandReadGroupAccess, &CMVS5ClientSession::ReadGroupAccess, 1},
};

}  // namespace

std::span<const DispatchRow> DispatchTable() { return kRows; }
