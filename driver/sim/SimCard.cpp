// placeholder, replaced by the simulated card
