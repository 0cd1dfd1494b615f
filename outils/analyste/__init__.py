"""Le rapport d'analyse HTML de calibrage (calibration, populations contrôlées, séparation)."""
