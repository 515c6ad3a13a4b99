namespace qm::formats {}
