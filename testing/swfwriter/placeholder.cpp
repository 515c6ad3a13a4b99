namespace qm::swfwriter {}
