// A module that only carries resources (loaded as data by the deployment tests).
