namespace qm::app {}
