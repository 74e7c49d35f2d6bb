#include "document/dir_node.h"

namespace orvane {

DirNode::~DirNode() = default;

}  // namespace orvane
