namespace qm::flash {}
