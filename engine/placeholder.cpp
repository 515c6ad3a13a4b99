namespace qm::engine {}
