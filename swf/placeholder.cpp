namespace qm::swf {}
