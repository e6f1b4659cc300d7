// Anchors the health library while it has no other translation unit.
