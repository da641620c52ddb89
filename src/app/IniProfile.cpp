// placeholder until this layer's first class lands
